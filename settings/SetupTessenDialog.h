#pragma once
// Settings of a record-file card: its settings image (Config/ZidavOva.cfg).
// Apply and OK write configpvna.ini, the viewer's copy of the image and,
// when the open card's image was read faithfully, the card's file and its
// .mod flag, changing only the fields that were edited. A failing write
// keeps the dialog open and names the file. FORMAT erases the card's
// recordings and settings after a confirmation.
#include "CardSettings.h"
#include "PavonaConfig.h"

#include <QDialog>
#include <functional>

class Reader;

namespace Ui {
class SetupTessenDialog;
}

class SetupTessenDialog : public QDialog
{
    Q_OBJECT

public:
    // appImage: the application's settings image (18216 bytes), shown when
    // the open source has no card and updated after a save.
    SetupTessenDialog(PavonaConfig *config, Reader *reader, QByteArray *appImage, QWidget *parent = nullptr);
    ~SetupTessenDialog() override;

    // Called before FORMAT erases the card, to stop playback.
    void setStopPlayback(std::function<void()> stop) { stopPlayback = std::move(stop); }
    // The card root that FORMAT erased (empty when none was).
    QString erasedRoot() const { return erased; }
    PavonaValues widgetValues() const;
    bool cardWritable() const { return card.faithful; }
    // Set by GetTIME: the time the camera is asked to take.
    bool setTimeRequested() const { return setTime; }

private slots:
    void on_SystemGetGmt_Buttom_clicked();
    void on_SystemGetTime_Btn_clicked();
    void on_Volume_ScrollBar_valueChanged(int value);
    void on_EventImpactDrive_scroll_valueChanged(int value);
    void on_EventImpactPark_scroll_valueChanged(int value);
    void on_pushButton_pressed();
    void on_Default_Btn_clicked();
    void on_Apply_Btn_clicked();
    void on_Ok_Btn_clicked();
    void on_Cancel_Btn_clicked();

private:
    void fillWidgets(const PavonaValues &v);
    bool save();

    Ui::SetupTessenDialog *ui;
    PavonaConfig *config;
    Reader *reader;
    QByteArray *appImage;
    CardSettings card;
    QByteArray image;        // the dialog's copy
    PavonaValues loaded;
    PavonaValues shown;
    std::function<void()> stopPlayback;
    QString erased;
    bool setTime = false;
    qint64 utcSeconds = 0;
};
