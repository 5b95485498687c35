#include "SetupTessenDialog.h"

#include "CardFormat.h"
#include "ChoiceWidgets.h"
#include "Reader.h"
#include "SettingsImage.h"
#include "pvna_log.h"
#include "ui_SetupTessenDialog.h"

#include <QDateTime>
#include <QDebug>
#include <QFile>
#include <QMessageBox>

SetupTessenDialog::SetupTessenDialog(PavonaConfig *config, Reader *reader, QByteArray *appImage, QWidget *parent)
    : QDialog(parent)
    , ui(new Ui::SetupTessenDialog)
    , config(config)
    , reader(reader)
    , appImage(appImage)
{
    ui->setupUi(this);
    card = CardSettings::fromReader(*reader);
    image = card.read ? card.image : *appImage;
    image.resize(PavonaConfig::ImageSize);
    PavonaConfig::ensureFolders();
    config->loadIni();
    loaded = PavonaConfig::fromImage(reinterpret_cast<const unsigned char *>(image.constData()), config->values);

    const QStringList &zones = PavonaConfig::timeZoneLabels();
    for (int i = 0; i < zones.size(); ++i)
        ui->SystemGmt_Combo->addItem(zones[i], i);
    ui->RecCodec_Combo->addItem(QStringLiteral("H.264"), 0);
    ui->RecCodec_Combo->addItem(QStringLiteral("H.265"), 1);
    ui->RecQuality_Combo->addItem(QStringLiteral("Low"), 0);
    ui->RecQuality_Combo->addItem(QStringLiteral("Middle"), 1);
    ui->RecQuality_Combo->addItem(QStringLiteral("High"), 2);
    fillWidgets(loaded);
    shown = widgetValues();

    if (card.faithful) {
        ui->cardStatus_label->setText(QStringLiteral("Camera settings of %1").arg(card.path));
    } else {
        const QString why = card.reason.isEmpty() ? QStringLiteral("no card is open") : card.reason;
        ui->cardStatus_label->setText(
            QStringLiteral("The card will not be written: %1. Apply keeps the settings in the viewer only.").arg(why));
    }
    ui->pushButton->setEnabled(reader->source().kind == SourceKind::RecordCard && isVerifiedCardRoot(reader->source().root));
}

SetupTessenDialog::~SetupTessenDialog()
{
    delete ui;
}

void SetupTessenDialog::fillWidgets(const PavonaValues &v)
{
    const QDateTime now = QDateTime::currentDateTime();
    ui->System_dateEdit->setDate(now.date());
    ui->System_timeEdit->setTime(now.time());
    selectValue(ui->SystemGmt_Combo, v.gmt);
    ui->Volume_ScrollBar->setValue(v.volume);
    on_Volume_ScrollBar_valueChanged(ui->Volume_ScrollBar->value());
    checkRadio({ui->VoltageLevel0_radioBtn, ui->VoltageLevel1_radioBtn, ui->VoltageLevel2_radioBtn,
                ui->VoltageLevel3_radioBtn, ui->VoltageLevel4_radioBtn, ui->VoltageLevel5_radioBtn,
                ui->VoltageLevel6_radioBtn}, v.voltageValue);
    selectValue(ui->RecCodec_Combo, v.typCodec);
    selectValue(ui->RecQuality_Combo, v.qualityD);
    checkRadio({ui->AudioRecOff_radioBtn, ui->AudioRecOn_radioBtn}, v.audioSave != 0 ? 1 : 0);
    checkRadio({ui->MemoryRatio0_radioBtn, ui->MemoryRatio1_radioBtn, ui->MemoryRatio2_radioBtn}, v.storageRatio);
    ui->EventImpactDrive_scroll->setValue(v.impactDrive);
    on_EventImpactDrive_scroll_valueChanged(ui->EventImpactDrive_scroll->value());
    ui->EventImpactPark_scroll->setValue(v.impactPark);
    on_EventImpactPark_scroll_valueChanged(ui->EventImpactPark_scroll->value());
    checkRadio({ui->CollisionWarnOff_radioBtn, ui->CollisionWarnOn_radioBtn}, v.notifyFcw ? 1 : 0);
    checkRadio({ui->LaneWarnOff_radioBtn, ui->LaneWarnOn_radioBtn}, v.notifyLane ? 1 : 0);
    checkRadio({ui->DepartureWarnOff_radioBtn, ui->DepartureWarnOn_radioBtn}, v.notifyDeparture ? 1 : 0);
    ui->InfoModel_lineEdit->setText(v.model);
    ui->InfoManufacture_lineEdit->setText(v.manufacture);
    ui->InfoFWversion_lineEdit->setText(v.firmwareVersion);
    ui->InfoSWversion_lineEdit->setText(v.softwareVersion);
    ui->InfoUpdateDate_lineEdit->setText(v.updateDate);
}

PavonaValues SetupTessenDialog::widgetValues() const
{
    PavonaValues v = loaded;
    v.gmt = ui->SystemGmt_Combo->currentData().toInt();
    v.volume = ui->Volume_ScrollBar->value();
    v.voltageValue = checkedRadio({ui->VoltageLevel0_radioBtn, ui->VoltageLevel1_radioBtn, ui->VoltageLevel2_radioBtn,
                                   ui->VoltageLevel3_radioBtn, ui->VoltageLevel4_radioBtn, ui->VoltageLevel5_radioBtn,
                                   ui->VoltageLevel6_radioBtn}, 3);
    v.typCodec = ui->RecCodec_Combo->currentData().toInt();
    v.qualityD = ui->RecQuality_Combo->currentData().toInt();
    v.audioSave = ui->AudioRecOn_radioBtn->isChecked() ? 1 : (ui->AudioRecOff_radioBtn->isChecked() ? 0 : loaded.audioSave);
    v.storageRatio = checkedRadio({ui->MemoryRatio0_radioBtn, ui->MemoryRatio1_radioBtn, ui->MemoryRatio2_radioBtn}, loaded.storageRatio);
    v.impactDrive = ui->EventImpactDrive_scroll->value();
    v.impactPark = ui->EventImpactPark_scroll->value();
    v.notifyFcw = ui->CollisionWarnOn_radioBtn->isChecked();
    v.notifyLane = ui->LaneWarnOn_radioBtn->isChecked();
    v.notifyDeparture = ui->DepartureWarnOn_radioBtn->isChecked();
    return v;
}

bool SetupTessenDialog::save()
{
    const PavonaValues now = widgetValues();
    PavonaValues edited = PavonaConfig::mergeEdits(loaded, shown, now);
    // The one quality combo sets parking quality too, but only when it was changed.
    if (now.qualityD != shown.qualityD)
        edited.qualityP = edited.qualityD;
    qDebug("Quality[%d:%d] Frame[%d:%d] Audio[%d]", edited.qualityD, edited.qualityP, edited.frameRateD,
           edited.frameRateP, edited.audioSave);
    qDebug("Fcw[%d] Lane[%d] Departure[%d]", edited.notifyFcw, edited.notifyLane, edited.notifyDeparture);

    QByteArray next = image;
    PavonaConfig::toImage(reinterpret_cast<unsigned char *>(next.data()), edited, loaded);

    const PavonaValues before = config->values;
    config->values = edited;
    if (!config->saveIni()) {
        config->values = before;
        QMessageBox::critical(this, windowTitle(), QStringLiteral("%1 could not be written.").arg(PavonaConfig::iniPath()));
        return false;
    }
    const QString copy = SettingsImage::viewerCopyPath(3);
    if (PVNA_Msvr2Viewer(QFile::encodeName(copy).constData(), reinterpret_cast<unsigned char *>(next.data()), 1) != 0) {
        PVNA_ERROR("Fail to Configuration Save!!!!\n");
        QMessageBox::critical(this, windowTitle(), QStringLiteral("%1 could not be written; the card was not touched.").arg(copy));
        return false;
    }
    if (card.faithful) {
        QString error;
        if (writeCardSettingsImage(*reader, card, reinterpret_cast<const unsigned char *>(next.constData()), &error) != 0) {
            QMessageBox::critical(this, windowTitle(), QStringLiteral("The camera settings were not saved.\n%1").arg(error));
            return false;
        }
        card = CardSettings::fromReader(*reader);
    }
    image = next;
    *appImage = next;
    loaded = edited;
    shown = now;
    return true;
}

void SetupTessenDialog::on_SystemGetGmt_Buttom_clicked()
{
    const int i = PavonaConfig::timeZoneIndexForMinutes(QDateTime::currentDateTime().offsetFromUtc() / 60);
    if (i >= 0)
        ui->SystemGmt_Combo->setCurrentIndex(ui->SystemGmt_Combo->findData(i));
}

void SetupTessenDialog::on_SystemGetTime_Btn_clicked()
{
    const QDateTime now = QDateTime::currentDateTime();
    ui->System_dateEdit->setDate(now.date());
    ui->System_timeEdit->setTime(now.time());
    setTime = true;
    utcSeconds = now.toSecsSinceEpoch();
    qDebug("Utc::%lld", static_cast<long long>(utcSeconds));
}

void SetupTessenDialog::on_Volume_ScrollBar_valueChanged(int value)
{
    ui->VolumeValue_label->setText(QString::number(value));
}

void SetupTessenDialog::on_EventImpactDrive_scroll_valueChanged(int value)
{
    ui->EventImpactDrive_label->setText(QString::number(value));
}

void SetupTessenDialog::on_EventImpactPark_scroll_valueChanged(int value)
{
    ui->EventImpactPark_label->setText(QString::number(value));
}

void SetupTessenDialog::on_pushButton_pressed()
{
    const OpenSource source = reader->source();
    if (source.kind != SourceKind::RecordCard || !isVerifiedCardRoot(source.root)) {
        QMessageBox::warning(this, windowTitle(), QStringLiteral("Only an open camera card can be erased."));
        return;
    }
    const int recordings = reader->files().size();
    const QMessageBox::StandardButton answer = QMessageBox::question(
        this, windowTitle(),
        QStringLiteral("Erase the card at %1?\n\nIts %2 recordings and its camera settings will be deleted.")
            .arg(source.root)
            .arg(recordings),
        QMessageBox::Yes | QMessageBox::No, QMessageBox::No);
    if (answer != QMessageBox::Yes)
        return;
    if (stopPlayback)
        stopPlayback();
    const QStringList failures = eraseRecordCard(source.root);
    erased = source.root;
    if (!failures.isEmpty()) {
        QMessageBox::critical(this, windowTitle(), QStringLiteral("The card was not erased completely:\n%1").arg(failures.join('\n')));
        return;
    }
    QMessageBox::information(this, windowTitle(), QStringLiteral("The card at %1 was erased.").arg(source.root));
    reject();
}

void SetupTessenDialog::on_Default_Btn_clicked()
{
    PavonaValues defaults;
    // The identity texts are the camera's, not settings.
    defaults.model = loaded.model;
    defaults.manufacture = loaded.manufacture;
    defaults.firmwareVersion = loaded.firmwareVersion;
    defaults.softwareVersion = loaded.softwareVersion;
    defaults.updateDate = loaded.updateDate;
    fillWidgets(defaults);
}

void SetupTessenDialog::on_Apply_Btn_clicked()
{
    save();
}

void SetupTessenDialog::on_Ok_Btn_clicked()
{
    if (save())
        accept();
}

void SetupTessenDialog::on_Cancel_Btn_clicked()
{
    reject();
}
