// The toolbar's Setup button on copies of the generated cards: it opens the
// dialog of the open store, playback waits, an edit reaches the card and the
// speed unit of the control bar follows the viewer's setting.
#include "SettingsTestHome.h"
#include "SetupDialog.h"
#include "SetupTessenDialog.h"
#include "ProcessRun.h"
#include "TalViewerMainDialog.h"
#include "TopMenuWidget.h"
#include "fixture_paths.h"

#include <QApplication>
#include <QDialogButtonBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

namespace {

template <typename T> T *child(QWidget *w, const char *name) { return w->findChild<T *>(QLatin1String(name)); }

// Clicks Setup and runs drive on the dialog that opens (null when none did).
void runSetup(TalViewerMainDialog &window, const std::function<void(QDialog *)> &drive)
{
    QTimer::singleShot(300, [&] {
        auto *dialog = qobject_cast<QDialog *>(QApplication::activeModalWidget());
        const QString shots = zvEnvPath("ZV_SCREENSHOT_DIR");
        if (dialog && !shots.isEmpty())
            dialog->grab().save(shots + "/" + dialog->objectName() + "-from-toolbar.png");
        drive(dialog);
    });
    child<QPushButton>(window.toolbar(), "btnSetup")->click();
}

} // namespace

TEST(SetupWindow, SetupOpensTheDialogOfTheOpenStore)
{
    QApplication::setQuitOnLastWindowClosed(false);
    SettingsTestHome home;
    QTemporaryDir tmp;
    ASSERT_EQ(runProcess("cp", {"-a", fixtureDir() + "/index", fixtureDir() + "/record", tmp.path()}).exitCode, 0);

    {
        TalViewerMainDialog window;
        window.setStartPath(tmp.filePath("index"));
        window.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
        EXPECT_TRUE(child<QPushButton>(window.toolbar(), "btnSetup")->isVisible());
        EXPECT_EQ(child<QLabel>(&window, "kmLabel")->text(), "Km/h");
        bool opened = false;
        runSetup(window, [&](QDialog *dialog) {
            opened = qobject_cast<SetupDialog *>(dialog) != nullptr;
            if (!dialog)
                return;
            child<QRadioButton>(dialog, "mileRadio")->setChecked(true);
            child<QSlider>(dialog, "volume")->setValue(1);
            child<QDialogButtonBox>(dialog, "buttonBox")->button(QDialogButtonBox::Ok)->click();
        });
        EXPECT_TRUE(opened);
        EXPECT_EQ(child<QLabel>(&window, "kmLabel")->text(), "MPH");
        EXPECT_EQ(readFile(tmp.filePath("index/index.ibx"), 512000 + 12, 1), QByteArray(1, '\1'));
        window.close();
    }
    {
        TalViewerMainDialog window;
        window.setStartPath(tmp.filePath("record"));
        window.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
        bool opened = false;
        runSetup(window, [&](QDialog *dialog) {
            opened = qobject_cast<SetupTessenDialog *>(dialog) != nullptr;
            if (!dialog)
                return;
            child<QSlider>(dialog, "Volume_ScrollBar")->setValue(2);
            child<QPushButton>(dialog, "Ok_Btn")->click();
        });
        EXPECT_TRUE(opened);
        const QString cfg = tmp.filePath("record/Config/ZidavOva.cfg");
        EXPECT_EQ(leAt(readFile(cfg), 13452, 4), 2u);
        EXPECT_EQ(readFile(cfg + ".mod"), QByteArray("config::1 "));
        // A two-channel image holds no unit: the viewer's own (MPH, saved above) holds.
        EXPECT_EQ(child<QLabel>(&window, "kmLabel")->text(), "MPH");
        window.close();
    }
}
