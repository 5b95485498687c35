#include "SetupDialog.h"

#include "ChoiceWidgets.h"
#include "FormatDialog.h"
#include "Reader.h"
#include "SetupBlock.h"
#include "ui_SetupDialog.h"

#include <QDateTime>
#include <QFileDialog>
#include <QMessageBox>
#include <QPushButton>


SetupDialog::SetupDialog(Config *config, Reader *reader, QWidget *parent)
    : QDialog(parent)
    , ui(new Ui::SetupDialog)
    , config(config)
    , reader(reader)
{
    ui->setupUi(this);
    card = CardSettings::fromReader(*reader);
    dialogBlock = card.read ? card.setupBlock : QByteArray(SetupBlock::Size, '\0');
    Config::ensureFolders();
    loaded = card.read ? SetupBlock::load(dialogBlock, config->values, reader->modelCode()) : config->values;

    for (int i = 0; i < SetupBlock::voltageLabels().size(); ++i)
        ui->voltage_comboBox->addItem(SetupBlock::voltageLabels()[i], i);
    for (const SetupBlock::AutoShutdownChoice &c : SetupBlock::autoShutdownChoices())
        ui->autoShutdownTimer_comboBox->addItem(QString::fromLatin1(c.label), c.value);
    for (const SetupBlock::TimeZone &z : SetupBlock::timeZones())
        ui->gmt_combo->addItem(QString::fromLatin1(z.label), z.code);
    // The camera's text fields hold 12, 10, 8 and 15 bytes.
    ui->company_lineEdit->setMaxLength(12);
    ui->vehicle_type_lineEdit->setMaxLength(10);
    ui->license_plate_lineEdit->setMaxLength(8);
    ui->driver_lineEdit->setMaxLength(15);

    fillWidgets(loaded);
    shown = widgetValues();

    if (!card.faithful) {
        const QString why = card.reason.isEmpty() ? QStringLiteral("no card is open") : card.reason;
        ui->cardStatus_label->setText(QStringLiteral("Camera settings are read-only: %1").arg(why));
        for (QWidget *w : {static_cast<QWidget *>(ui->systemTab), static_cast<QWidget *>(ui->ratioGroup),
                           static_cast<QWidget *>(ui->gsensorGroup), static_cast<QWidget *>(ui->eventsGroup),
                           static_cast<QWidget *>(ui->overspeedGroup), static_cast<QWidget *>(ui->suddenStopGroup),
                           static_cast<QWidget *>(ui->suddenAccelerationGroup), static_cast<QWidget *>(ui->sharpTurnGroup),
                           static_cast<QWidget *>(ui->passwordGroup), static_cast<QWidget *>(ui->infoTab)})
            w->setEnabled(false);
    } else {
        ui->cardStatus_label->setText(QStringLiteral("Camera settings of %1").arg(card.path));
    }
}

SetupDialog::~SetupDialog()
{
    delete ui;
}

void SetupDialog::fillWidgets(const ConfigValues &v)
{
    checkRadio({ui->recordFrame_min, ui->recordFrame_mid, ui->recordFrame_max}, v.recordFrame);
    checkRadio({ui->rec_quality_min, ui->rec_quality_mid, ui->rec_quality_max}, v.recordQuality);
    checkRadio({ui->autio_rec_on, ui->autio_rec_off}, v.voiceRecord ? 0 : 1);
    ui->volume->setValue(v.volume);
    on_volume_valueChanged(ui->volume->value());
    ui->auto_park_time->setValue(v.autoParking);
    on_auto_park_time_valueChanged(ui->auto_park_time->value());
    QCheckBox *const cams[4] = {ui->connect_cam_front, ui->connect_cam_cam2, ui->connect_cam_cam3, ui->connect_cam_cam4};
    for (int i = 0; i < 4; ++i)
        cams[i]->setChecked(v.connectedCamera[i]);
    selectValue(ui->voltage_comboBox, v.voltage);
    selectValue(ui->autoShutdownTimer_comboBox, v.autoShutdownTimer);
    // Types: 0 off, 1 on, 2 blinking at the slider's speed.
    checkRadio({ui->led_driving_off, ui->led_driving_on, ui->led_driving_twinkling}, v.ledDrivingType);
    ui->led_driving_slide->setValue(v.ledDrivingSpeed);
    checkRadio({ui->led_parking_off, ui->led_parking_on, ui->led_parking_twinkling}, v.ledParkingType);
    ui->led_parking_slide->setValue(v.ledParkingSpeed);
    selectValue(ui->gmt_combo, v.gmt);
    const QDateTime now = QDateTime::currentDateTime();
    ui->dateEdit->setDate(now.date());
    ui->timeEdit->setTime(now.time());

    ui->event_save_ratio->setValue(v.eventRecordRatio);
    on_event_save_ratio_valueChanged(ui->event_save_ratio->value());
    QSlider *const dri[3] = {ui->g_sensor_sen_dri_x, ui->g_sensor_sen_dri_y, ui->g_sensor_sen_dri_z};
    QSlider *const park[3] = {ui->g_sensor_sen_park_x, ui->g_sensor_sen_park_y, ui->g_sensor_sen_park_z};
    for (int i = 0; i < 3; ++i) {
        dri[i]->setValue(v.gSensorDriving[i]);
        park[i]->setValue(v.gSensorParking[i]);
    }
    on_g_sensor_sen_dri_x_valueChanged(dri[0]->value());
    on_g_sensor_sen_dri_y_valueChanged(dri[1]->value());
    on_g_sensor_sen_dri_z_valueChanged(dri[2]->value());
    on_g_sensor_sen_park_x_valueChanged(park[0]->value());
    on_g_sensor_sen_park_y_valueChanged(park[1]->value());
    on_g_sensor_sen_park_z_valueChanged(park[2]->value());
    QCheckBox *const events[8] = {ui->impact_check, ui->preEvent_check, ui->suddenStop_check,
        ui->suddenAcceleration_check, ui->sharpTurn_check, ui->emergency_check, ui->overspeed_check,
        ui->externalSignal_check};
    for (int i = 0; i < 8; ++i)
        events[i]->setChecked(v.events[i]);
    ui->overSpeedLimit_Slider->setValue(v.overspeedLimit);
    ui->suddenStop_slider->setValue(v.suddenStopSensitivity);
    on_suddenStop_slider_valueChanged(ui->suddenStop_slider->value());
    ui->suddenAcceleration_Slider->setValue(v.suddenAccelerationSensitivity);
    on_suddenAcceleration_Slider_valueChanged(ui->suddenAcceleration_Slider->value());
    ui->sharpTurn_slider->setValue(v.sharpTurn);
    on_sharpTurn_slider_valueChanged(ui->sharpTurn_slider->value());

    fillViewerWidgets(v);

    ui->software_version_lineEdit->setText(v.softwareVersion);
    ui->firmware_version_lineEdit->setText(v.firmwareVersion);
    ui->company_lineEdit->setText(v.company);
    ui->vehicle_type_lineEdit->setText(v.vehicleType);
    ui->license_plate_lineEdit->setText(v.licensePlate);
    ui->driver_lineEdit->setText(v.driver);
}

void SetupDialog::fillViewerWidgets(const ConfigValues &v)
{
    checkRadio({ui->kmRadio, ui->mileRadio}, v.displayKm ? 0 : 1);
    showOverspeed(v.displayKm);
    ui->lineEdit_avi->setText(v.aviFolder);
    ui->lineEdit_capture->setText(v.captureFolder);
    ui->lineEdit_smartBackup->setText(v.smartBackupFolder);
    QCheckBox *const mirrors[4] = {ui->mirror_front, ui->mirror_cam2, ui->mirror_cam3, ui->mirror_cam4};
    for (int i = 0; i < 4; ++i)
        mirrors[i]->setChecked(v.mirror[i]);
}

ConfigValues SetupDialog::widgetValues() const
{
    ConfigValues v = loaded;
    v.recordFrame = checkedRadio({ui->recordFrame_min, ui->recordFrame_mid, ui->recordFrame_max}, loaded.recordFrame);
    v.recordQuality = checkedRadio({ui->rec_quality_min, ui->rec_quality_mid, ui->rec_quality_max}, loaded.recordQuality);
    v.voiceRecord = ui->autio_rec_on->isChecked();
    v.volume = ui->volume->value();
    v.autoParking = ui->auto_park_time->value();
    const QCheckBox *const cams[4] = {ui->connect_cam_front, ui->connect_cam_cam2, ui->connect_cam_cam3, ui->connect_cam_cam4};
    for (int i = 0; i < 4; ++i)
        v.connectedCamera[i] = cams[i]->isChecked();
    v.voltage = ui->voltage_comboBox->currentData().toInt();
    v.autoShutdownTimer = ui->autoShutdownTimer_comboBox->currentData().toInt();
    v.ledDrivingType = checkedRadio({ui->led_driving_off, ui->led_driving_on, ui->led_driving_twinkling}, loaded.ledDrivingType);
    v.ledDrivingSpeed = ui->led_driving_slide->value();
    v.ledParkingType = checkedRadio({ui->led_parking_off, ui->led_parking_on, ui->led_parking_twinkling}, loaded.ledParkingType);
    v.ledParkingSpeed = ui->led_parking_slide->value();
    v.gmt = ui->gmt_combo->currentData().toInt();
    v.setTime = QDateTime(ui->dateEdit->date(), ui->timeEdit->time());

    v.eventRecordRatio = ui->event_save_ratio->value();
    const QSlider *const dri[3] = {ui->g_sensor_sen_dri_x, ui->g_sensor_sen_dri_y, ui->g_sensor_sen_dri_z};
    const QSlider *const park[3] = {ui->g_sensor_sen_park_x, ui->g_sensor_sen_park_y, ui->g_sensor_sen_park_z};
    for (int i = 0; i < 3; ++i) {
        v.gSensorDriving[i] = dri[i]->value();
        v.gSensorParking[i] = park[i]->value();
    }
    v.displayKm = ui->kmRadio->isChecked();
    const QCheckBox *const events[8] = {ui->impact_check, ui->preEvent_check, ui->suddenStop_check,
        ui->suddenAcceleration_check, ui->sharpTurn_check, ui->emergency_check, ui->overspeed_check,
        ui->externalSignal_check};
    for (int i = 0; i < 8; ++i)
        v.events[i] = events[i]->isChecked();
    v.overspeedLimit = ui->overSpeedLimit_Slider->value();
    v.suddenStopSensitivity = ui->suddenStop_slider->value();
    v.suddenAccelerationSensitivity = ui->suddenAcceleration_Slider->value();
    v.sharpTurn = ui->sharpTurn_slider->value();

    v.aviFolder = ui->lineEdit_avi->text();
    v.captureFolder = ui->lineEdit_capture->text();
    v.smartBackupFolder = ui->lineEdit_smartBackup->text();
    const QCheckBox *const mirrors[4] = {ui->mirror_front, ui->mirror_cam2, ui->mirror_cam3, ui->mirror_cam4};
    for (int i = 0; i < 4; ++i)
        v.mirror[i] = mirrors[i]->isChecked();

    v.company = ui->company_lineEdit->text();
    v.vehicleType = ui->vehicle_type_lineEdit->text();
    v.licensePlate = ui->license_plate_lineEdit->text();
    v.driver = ui->driver_lineEdit->text();
    return v;
}

void SetupDialog::showOverspeed(bool kmh)
{
    const int value = ui->overSpeedLimit_Slider->value();
    ui->overSpeedLimit_label->setText(kmh ? QString::asprintf("%dKm/h", value)
                                          : QString::asprintf("%dMPH", value * 1000 / 1609));
}

void SetupDialog::on_readGMTBtn_clicked()
{
    // The system's own offset, right across midnight and daylight saving.
    const int minutes = QDateTime::currentDateTime().offsetFromUtc() / 60;
    const int i = SetupBlock::timeZoneIndexForMinutes(minutes);
    if (i >= 0)
        ui->gmt_combo->setCurrentIndex(ui->gmt_combo->findData(SetupBlock::timeZones()[i].code));
}

void SetupDialog::on_eraseDataBtn_clicked()
{
    FormatDialog dialog(this);
    dialog.exec();
}

void SetupDialog::chooseFolder(QLineEdit *edit)
{
    const QString dir = QFileDialog::getExistingDirectory(this, QStringLiteral("Browse For Folder"), edit->text(),
                                                          QFileDialog::ShowDirsOnly);
    if (!dir.isEmpty())
        edit->setText(dir);
}

void SetupDialog::on_avi_folder_clicked() { chooseFolder(ui->lineEdit_avi); }
void SetupDialog::on_capture_folder_clicked() { chooseFolder(ui->lineEdit_capture); }
void SetupDialog::on_smart_backup_folder_clicked() { chooseFolder(ui->lineEdit_smartBackup); }

void SetupDialog::on_buttonBox_accepted()
{
    const ConfigValues edited = Config::mergeEdits(loaded, shown, widgetValues());
    if (card.faithful) {
        const QByteArray next = SetupBlock::store(dialogBlock, edited, loaded);
        QString error;
        if (writeCardSetupBlock(*reader, card, next, &error) != 0) {
            QMessageBox::critical(this, windowTitle(), QStringLiteral("The camera settings were not saved.\n%1").arg(error));
            return;
        }
        card = CardSettings::fromReader(*reader);
        dialogBlock = next;
    }
    const ConfigValues before = config->values;
    config->values = edited;
    if (!config->save()) {
        config->values = before;
        QMessageBox::critical(this, windowTitle(), QStringLiteral("The viewer settings were not saved.\n%1").arg(config->error()));
        return;
    }
    loaded = edited;
    shown = widgetValues();
    accept();
}

void SetupDialog::on_buttonBox_rejected()
{
    reject();
}

void SetupDialog::on_defaultBtn_clicked()
{
    fillWidgets(Config::defaults());
}

void SetupDialog::on_defaultBtn_Viewer_clicked()
{
    fillViewerWidgets(Config::defaults());
}

void SetupDialog::on_overSpeedLimit_Slider_valueChanged(int)
{
    showOverspeed(ui->kmRadio->isChecked());
}

void SetupDialog::on_kmRadio_pressed() { showOverspeed(true); }
void SetupDialog::on_mileRadio_pressed() { showOverspeed(false); }

void SetupDialog::on_event_save_ratio_valueChanged(int value)
{
    ui->event_save_ratio_label->setText(QString::asprintf("%d%c", value, '%'));
}

void SetupDialog::on_volume_valueChanged(int value) { ui->volume_label->setText(QString::number(value)); }
void SetupDialog::on_auto_park_time_valueChanged(int value) { ui->auto_park_label->setText(QString::number(value)); }
void SetupDialog::on_g_sensor_sen_dri_x_valueChanged(int value) { ui->g_sensor_sen_dri_x_label->setText(QString::number(value)); }
void SetupDialog::on_g_sensor_sen_dri_y_valueChanged(int value) { ui->g_sensor_sen_dri_y_label->setText(QString::number(value)); }
void SetupDialog::on_g_sensor_sen_dri_z_valueChanged(int value) { ui->g_sensor_sen_dri_z_label->setText(QString::number(value)); }
void SetupDialog::on_g_sensor_sen_park_x_valueChanged(int value) { ui->g_sensor_sen_park_x_label->setText(QString::number(value)); }
void SetupDialog::on_g_sensor_sen_park_y_valueChanged(int value) { ui->g_sensor_sen_park_y_label->setText(QString::number(value)); }
void SetupDialog::on_g_sensor_sen_park_z_valueChanged(int value) { ui->g_sensor_sen_park_z_label->setText(QString::number(value)); }
void SetupDialog::on_suddenStop_slider_valueChanged(int value) { ui->suddenStop_label->setText(QString::number(value)); }
void SetupDialog::on_suddenAcceleration_Slider_valueChanged(int value) { ui->suddenAcceleration_label->setText(QString::number(value)); }
void SetupDialog::on_sharpTurn_slider_valueChanged(int value) { ui->sharpTurn_label->setText(QString::number(value)); }

void SetupDialog::on_apply_password_btn_pressed()
{
    const SetupBlock::PasswordChange result =
        SetupBlock::changePassword(dialogBlock, ui->current_password_lineEdit->text(), ui->new_password_lineEdit->text(),
                                   ui->confirm_password_lineEdit->text());
    const QString message = SetupBlock::passwordChangeMessage(result);
    if (result == SetupBlock::PasswordChange::Staged) {
        for (QLineEdit *edit : {ui->current_password_lineEdit, ui->new_password_lineEdit, ui->confirm_password_lineEdit})
            edit->clear();
        QMessageBox::information(this, windowTitle(), message, QMessageBox::Ok);
    } else {
        QMessageBox::warning(this, windowTitle(), message, QMessageBox::Ok);
    }
}
