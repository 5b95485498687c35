#pragma once
// Settings of an index card and of the viewer: the card's setup block
// (System, Event and Information tabs, the card password) and the viewer's
// own settings (folders, mirrors, speed unit). OK writes only what was
// changed: the block to the open card, when it was read whole from it, and
// the viewer's config.ini. A failing write keeps the dialog open and names
// the file.
#include "CardSettings.h"
#include "Config.h"

#include <QDialog>

class Reader;

namespace Ui {
class SetupDialog;
}

class SetupDialog : public QDialog
{
    Q_OBJECT

public:
    SetupDialog(Config *config, Reader *reader, QWidget *parent = nullptr);
    ~SetupDialog() override;

    // The values the widgets show now.
    ConfigValues widgetValues() const;
    // The dialog's copy of the setup block (with a staged password).
    QByteArray block() const { return dialogBlock; }
    bool cardWritable() const { return card.faithful; }

private slots:
    void on_readGMTBtn_clicked();
    void on_eraseDataBtn_clicked();
    void on_avi_folder_clicked();
    void on_capture_folder_clicked();
    void on_smart_backup_folder_clicked();
    void on_buttonBox_accepted();
    void on_buttonBox_rejected();
    void on_defaultBtn_clicked();
    void on_defaultBtn_Viewer_clicked();
    void on_overSpeedLimit_Slider_valueChanged(int value);
    void on_kmRadio_pressed();
    void on_mileRadio_pressed();
    void on_event_save_ratio_valueChanged(int value);
    void on_volume_valueChanged(int value);
    void on_auto_park_time_valueChanged(int value);
    void on_g_sensor_sen_dri_x_valueChanged(int value);
    void on_g_sensor_sen_dri_y_valueChanged(int value);
    void on_g_sensor_sen_dri_z_valueChanged(int value);
    void on_g_sensor_sen_park_x_valueChanged(int value);
    void on_g_sensor_sen_park_y_valueChanged(int value);
    void on_g_sensor_sen_park_z_valueChanged(int value);
    void on_suddenStop_slider_valueChanged(int value);
    void on_suddenAcceleration_Slider_valueChanged(int value);
    void on_sharpTurn_slider_valueChanged(int value);
    void on_apply_password_btn_pressed();

private:
    void fillWidgets(const ConfigValues &v);
    void fillViewerWidgets(const ConfigValues &v);
    void showOverspeed(bool kmh);
    void chooseFolder(class QLineEdit *edit);

    Ui::SetupDialog *ui;
    Config *config;
    Reader *reader;
    CardSettings card;
    QByteArray dialogBlock;
    ConfigValues loaded;   // from the INI and the block when the dialog opened
    ConfigValues shown;    // what the widgets showed then
};
