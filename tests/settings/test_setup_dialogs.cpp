// The setup dialogs on copies of generated cards, driven through their
// widgets: OK without an edit leaves the card's bytes as they were, an edit
// reaches the card file and survives a reload (the command-line tool shows
// it), a card that was not read faithfully is never written, and FORMAT
// erases only after a confirmation.
#include "CardSettings.h"
#include "Config.h"
#include "FormatDialog.h"
#include "PasswordCheck.h"
#include "PavonaConfig.h"
#include "ProcessRun.h"
#include "Reader.h"
#include "SafeFileWrite.h"
#include "SettingsImage.h"
#include "SetupBlock.h"
#include "SetupDialog.h"
#include "SetupTessenDialog.h"
#include "fixture_paths.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QSettings>
#include <QSlider>
#include <QTemporaryDir>
#include <QTimer>
#include <gtest/gtest.h>

namespace {

QString copyCard(const QString &name, const QString &to)
{
    EXPECT_EQ(runProcess("cp", {"-a", fixtureDir() + "/" + name, to}).exitCode, 0);
    return to;
}

// Answers the next message box with button (and counts the boxes seen).
struct MessageBoxAnswer {
    QMessageBox::StandardButton button;
    int seen = 0;
    QString text;
    QTimer timer;
    explicit MessageBoxAnswer(QMessageBox::StandardButton b = QMessageBox::Ok) : button(b)
    {
        QObject::connect(&timer, &QTimer::timeout, [this] {
            if (auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget())) {
                ++seen;
                text = box->text();
                box->button(button) ? box->button(button)->click() : box->done(0);
            }
        });
        timer.start(20);
    }
};

template <typename T>
T *child(QWidget *dialog, const char *name)
{
    T *w = dialog->findChild<T *>(name);
    EXPECT_NE(w, nullptr) << name;
    return w;
}

void pressOk(SetupDialog &dialog)
{
    child<QDialogButtonBox>(&dialog, "buttonBox")->button(QDialogButtonBox::Ok)->click();
}

void grabFor(QWidget *w, const QString &name)
{
    const QString dir = zvEnvPath("ZV_SCREENSHOT_DIR");
    if (!dir.isEmpty()) {
        w->resize(w->sizeHint());
        w->grab().save(dir + "/" + name + ".png");
    }
}

class Dialogs : public ::testing::Test
{
protected:
    void SetUp() override
    {
        qputenv("HOME", home.path().toLocal8Bit());
        qunsetenv("XDG_CONFIG_HOME");
    }
    QTemporaryDir home, tmp;
};

} // namespace

TEST_F(Dialogs, SetupDialogOkWithoutAnEditKeepsEveryFieldValue)
{
    const QString card = copyCard("index", tmp.filePath("card"));
    const QString index = card + "/index.ibx";
    const QByteArray original = readFile(index);
    const int fields[] = {10, 11, 12, 13, 28, 29, 30, 81, 83, 86, 88, 91, 92, 143, 144, 308, 310, 353};
    for (int field : fields) {
        for (int value : {0, 1, 2, 3, 5, 7, 11, 127, 128, 200, 255}) {
            QByteArray before = original;
            before[512000 + field] = char(value);
            before[512000 + 17] = char(34);
            ASSERT_TRUE(writeFile(index, before));
            Config config;
            Reader reader;
            ASSERT_EQ(reader.openIndexFile(card), 0);
            SetupDialog dialog(&config, &reader);
            pressOk(dialog);
            ASSERT_EQ(dialog.result(), QDialog::Accepted);
            ASSERT_EQ(readFile(index), before) << "byte " << field << " = " << value;
        }
    }
}

TEST_F(Dialogs, SetupDialogEditReachesTheCardAndSurvivesAReload)
{
    const QString card = copyCard("index", tmp.filePath("card"));
    const QByteArray before = readFile(card + "/index.ibx");
    {
        Config config;
        Reader reader;
        ASSERT_EQ(reader.openIndexFile(card), 0);
        ASSERT_GE(reader.loadBanks(card), 0);
        SetupDialog dialog(&config, &reader);
        grabFor(&dialog, "setup-dialog");
        EXPECT_TRUE(dialog.cardWritable());
        auto *zones = child<QComboBox>(&dialog, "gmt_combo");
        zones->setCurrentIndex(zones->findText("GMT -03:30"));
        child<QSlider>(&dialog, "volume")->setValue(5);
        child<QCheckBox>(&dialog, "connect_cam_front")->setChecked(false);
        child<QLineEdit>(&dialog, "driver_lineEdit")->setText("Kim");
        child<QRadioButton>(&dialog, "mileRadio")->setChecked(true);
        child<QLineEdit>(&dialog, "new_password_lineEdit")->setText("zv42");
        child<QLineEdit>(&dialog, "confirm_password_lineEdit")->setText("zv42");
        {
            MessageBoxAnswer ok;
            child<QPushButton>(&dialog, "apply_password_btn")->click();
            EXPECT_EQ(ok.seen, 1);
            EXPECT_TRUE(ok.text.contains("when you press OK"));
        }
        // Staged, not written yet.
        EXPECT_EQ(readFile(card + "/index.ibx"), before);
        pressOk(dialog);
        EXPECT_EQ(dialog.result(), QDialog::Accepted);
        EXPECT_FALSE(config.speedKmh());
    }
    const QByteArray after = readFile(card + "/index.ibx");
    const struct {
        int offset;
        int value;
    } expected[] = {{28, 0xF2}, {12, 5}, {17, 34}, {88, quint8(before[512000 + 88]) | 0x10}};
    for (const auto &e : expected)
        EXPECT_EQ(quint8(after[512000 + e.offset]), e.value) << e.offset;
    EXPECT_EQ(after.mid(512000 + 127, 15), QByteArray("Kim") + QByteArray(12, '\0'));
    EXPECT_TRUE(passwordMatches(PasswordKind::Card, "zv42", after.mid(512000 + 20, 8), 8));
    // The viewer's own unit went to config.ini, not to the card.
    Config reloaded;
    ASSERT_TRUE(reloaded.load());
    EXPECT_FALSE(reloaded.speedKmh());

    // Reloaded from the card by the command-line tool (the card now asks for its password).
    const ProcessRun r = runProcess(binaryDir() + "/cli/zidavova-tool", {"settings", card, "--password", "zv42"});
    ASSERT_EQ(r.exitCode, 0) << r.err.constData();
    const QJsonObject values = QJsonDocument::fromJson(r.out).object().value("values").toObject();
    EXPECT_EQ(values.value("timeZone").toString(), "GMT -03:30");
    EXPECT_EQ(values.value("volume").toInt(), 5);
    EXPECT_EQ(values.value("driver").toString(), "Kim");
    EXPECT_FALSE(values.value("connectedCameras").toObject().value("front").toBool());
}

TEST_F(Dialogs, SetupDialogIsReadOnlyWithoutAWholeBlockAndKeepsOpenOnAFailedWrite)
{
    // An index file too short for the block: shown read-only, never grown.
    const QString shortCard = copyCard("index", tmp.filePath("short"));
    QFile::resize(shortCard + "/index.ibx", 512100);
    const QByteArray shortBytes = readFile(shortCard + "/index.ibx");
    Config config;
    Reader reader;
    ASSERT_EQ(reader.openIndexFile(shortCard), 0);
    {
        SetupDialog dialog(&config, &reader);
        EXPECT_FALSE(dialog.cardWritable());
        EXPECT_TRUE(child<QLabel>(&dialog, "cardStatus_label")->text().contains("read-only"));
        EXPECT_FALSE(child<QWidget>(&dialog, "systemTab")->isEnabled());
        pressOk(dialog);
        EXPECT_EQ(dialog.result(), QDialog::Accepted);
    }
    EXPECT_EQ(readFile(shortCard + "/index.ibx"), shortBytes);

    // A read-only index file: the dialog stays open and names the file.
    const QString card = copyCard("index", tmp.filePath("ro"));
    const QByteArray before = readFile(card + "/index.ibx");
    ASSERT_EQ(reader.openIndexFile(card), 0);
    QFile::setPermissions(card + "/index.ibx", QFile::ReadOwner);
    SetupDialog dialog(&config, &reader);
    dialog.show();
    child<QSlider>(&dialog, "volume")->setValue(1);
    MessageBoxAnswer ok;
    pressOk(dialog);
    EXPECT_EQ(ok.seen, 1);
    EXPECT_TRUE(ok.text.contains("index.ibx")) << ok.text.toStdString();
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_EQ(readFile(card + "/index.ibx"), before);
}

TEST_F(Dialogs, TessenApplyWritesOnlyEditsAndTheModFlagAfterTheFile)
{
    const QString card = copyCard("record", tmp.filePath("card"));
    const QString cfg = card + "/Config/ZidavOva.cfg";
    const QByteArray before = readFile(cfg);
    PavonaConfig config;
    Reader reader;
    ASSERT_GT(reader.scanCard(card), 0);
    QByteArray appImage(SettingsImage::DataSize, '\0');
    {
        SetupTessenDialog dialog(&config, &reader, &appImage);
        grabFor(&dialog, "setup-tessen-dialog");
        EXPECT_TRUE(dialog.cardWritable());
        child<QPushButton>(&dialog, "Ok_Btn")->click();
        EXPECT_EQ(dialog.result(), QDialog::Accepted);
    }
    EXPECT_EQ(readFile(cfg), before);
    EXPECT_FALSE(QFile::exists(cfg + ".mod"));

    SetupTessenDialog dialog(&config, &reader, &appImage);
    child<QSlider>(&dialog, "Volume_ScrollBar")->setValue(1);
    child<QRadioButton>(&dialog, "MemoryRatio0_radioBtn")->setChecked(true);
    child<QRadioButton>(&dialog, "CollisionWarnOn_radioBtn")->setChecked(true);
    child<QPushButton>(&dialog, "Apply_Btn")->click();
    const QByteArray after = readFile(cfg);
    ASSERT_EQ(after.size(), 18344);
    EXPECT_EQ(readFile(cfg + ".mod"), QByteArray("config::1 "));
    EXPECT_EQ(leAt(after, 13452, 4), 1u);
    EXPECT_EQ(leAt(after, 4572 + 64, 4), 10u);
    EXPECT_EQ(quint8(after[17585]), 1);
    int changed = 0;
    for (int i = 0; i < 18216; ++i)
        changed += after[i] != before[i];
    EXPECT_EQ(changed, 4);   // the low bytes of both volume words, the share, the warning
    EXPECT_EQ(readFile(SettingsImage::viewerCopyPath(3)), after);
    EXPECT_EQ(appImage, after.left(18216));
    EXPECT_EQ(QSettings(PavonaConfig::iniPath(), QSettings::IniFormat).value("System/Volume").toInt(), 1);
    EXPECT_FALSE(QFile::exists(Config::settingsFolder() + "/config.ini"));   // that one is the other family's

    // A failing card write keeps the dialog open, names the file, leaves the card.
    QFile::remove(cfg + ".mod");
    SafeFileWrite::setWriteLimitForTesting(10);
    dialog.show();
    child<QSlider>(&dialog, "Volume_ScrollBar")->setValue(4);
    MessageBoxAnswer ok;
    child<QPushButton>(&dialog, "Ok_Btn")->click();
    SafeFileWrite::setWriteLimitForTesting(-1);
    EXPECT_GE(ok.seen, 1);
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_EQ(readFile(cfg), after);
    EXPECT_FALSE(QFile::exists(cfg + ".mod"));
}

TEST_F(Dialogs, FormatErasesTheCardOnlyWhenConfirmed)
{
    const QString card = copyCard("record", tmp.filePath("card"));
    const QByteArray sums = toolOutput("sh", {"-c", "cd \"$0\" && find . | sort", card});
    PavonaConfig config;
    Reader reader;
    ASSERT_GT(reader.scanCard(card), 0);
    QByteArray appImage(SettingsImage::DataSize, '\0');
    int stops = 0;
    for (QMessageBox::StandardButton answer : {QMessageBox::No, QMessageBox::Yes}) {
        SetupTessenDialog dialog(&config, &reader, &appImage);
        dialog.setStopPlayback([&] { ++stops; });
        MessageBoxAnswer reply(answer);
        child<QPushButton>(&dialog, "pushButton")->click();
        if (answer == QMessageBox::No) {
            EXPECT_TRUE(reply.text.contains("3 recordings")) << reply.text.toStdString();
            EXPECT_EQ(toolOutput("sh", {"-c", "cd \"$0\" && find . | sort", card}), sums);
            EXPECT_EQ(stops, 0);
        } else {
            EXPECT_EQ(stops, 1);
            EXPECT_EQ(dialog.erasedRoot(), card);
            EXPECT_EQ(QDir(card).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot), QStringList());
        }
    }
    // Without a marker there is nothing to erase.
    SetupTessenDialog none(&config, &reader, &appImage);
    EXPECT_FALSE(child<QPushButton>(&none, "pushButton")->isEnabled());
}

TEST_F(Dialogs, FormatDialogListsOnlyRemovableDrivesAndOffersNoFormat)
{
    // A /sys where no disk is removable.
    FormatDialog dialog(nullptr, tmp.path());
    EXPECT_EQ(dialog.driveCount(), 0);
    MessageBoxAnswer ok;
    child<QPushButton>(&dialog, "formatBtn")->click();
    EXPECT_EQ(ok.seen, 1);
    EXPECT_TRUE(ok.text.contains("not offered"));
}
