// The video backup and capture windows as a person uses them, under Xvfb:
// the range slider and edits, an export run from the window (and stopped,
// and failing), captures judged by ImageMagick against ffmpeg's own picture,
// and the main window's toolbar commands, closing while an export runs.
#include "AVIBackupDialog.h"
#include "CaptureDialog.h"
#include "EventMenuWidget.h"
#include "ExportCommands.h"
#include "H26xFrameItem.h"
#include "PaneManager.h"
#include "ProcessRun.h"
#include "RangeSlider.h"
#include "Reader.h"
#include "SaveToFileThread.h"
#include "TalGLWidget.h"
#include "TalViewerMainDialog.h"
#include "TopMenuWidget.h"
#include "fixture_paths.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDateEdit>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimeEdit>
#include <QTimer>
#include <gtest/gtest.h>

namespace {

template <typename T> T *child(QWidget *parent, const char *name)
{
    T *w = parent->findChild<T *>(name);
    EXPECT_NE(w, nullptr) << name;
    return w;
}

QDateTime at(int secs) { return QDateTime::fromSecsSinceEpoch(1678772725 + secs); }

TEST(RangeSlider, ValuesClampPagesAndDragsStopAtTheOtherHandle)
{
    RangeSlider slider;
    slider.resize(224, 30); // 200 pixels of travel
    slider.setMinimum(0);
    slider.setMaximum(100);
    QSignalSpy lower(&slider, &RangeSlider::lowerValueChanged);
    slider.setLowerValue(-5);
    slider.setUpperValue(500);
    EXPECT_EQ(std::make_pair(slider.lowerValue(), slider.upperValue()), std::make_pair(0, 100));
    EXPECT_EQ(lower.count(), 1);

    // Minimum above maximum swaps them; values go to the ends.
    slider.setMinimum(150);
    EXPECT_EQ(std::make_pair(slider.minimum(), slider.maximum()), std::make_pair(100, 150));
    slider.setMinimum(0);
    slider.setMaximum(100);

    const int y = 15;
    struct Press {
        int x, lower, upper;
    } presses[] = {
        {110, 10, 100}, // between the handles, left half: the lower one moves in by a tenth
        {2, 0, 100},    // left of the lower handle: pages down, clamped
        {200, 10, 90},  // between, right half: the upper one moves in (after resetting lower below)
    };
    for (const Press &p : presses) {
        if (p.x == 200)
            slider.setLowerValue(10);
        QTest::mouseClick(&slider, Qt::LeftButton, {}, QPoint(p.x, y));
        EXPECT_EQ(std::make_pair(slider.lowerValue(), slider.upperValue()), std::make_pair(p.lower, p.upper)) << p.x;
    }
    // Dragging the lower handle past the upper one stops on it.
    const QPoint grab(slider.lowerHandleX() + 5, y);
    QTest::mousePress(&slider, Qt::LeftButton, {}, grab);
    QMouseEvent move(QEvent::MouseMove, QPointF(220, y), Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&slider, &move);
    QTest::mouseRelease(&slider, Qt::LeftButton, {}, QPoint(220, y));
    EXPECT_EQ(slider.lowerValue(), slider.upperValue());

    EXPECT_EQ(slider.spanColor(), QColor(30, 144, 255));
    slider.setEnabled(false);
    EXPECT_EQ(slider.spanColor(), QColor(Qt::darkGray));
}

class BackupWindow : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_GT(reader.scanCard(fixtureDir() + "/record"), 0);
        reader.setMode(2);
        first = reader.files().first();
        last = reader.files().last();
    }
    Reader reader;
    FileRecord first, last;
    QTemporaryDir out;
};

TEST_F(BackupWindow, EditsSnapIntoTheSpanAndChannelsFollowTheBoxes)
{
    AVIBackupDialog dialog(&reader, 2);
    dialog.setRange(at(0), at(15), at(5), at(10), "name");
    auto *startTime = child<QTimeEdit>(&dialog, "startTimeEdit");
    auto *endTime = child<QTimeEdit>(&dialog, "endTimeEdit");
    auto *name = child<QLineEdit>(&dialog, "lineEditFileName");
    auto *slider = child<RangeSlider>(&dialog, "rangeSlider");
    EXPECT_EQ(std::make_pair(slider->lowerValue(), slider->upperValue()), std::make_pair(5, 10));
    EXPECT_EQ(name->text(), "name");

    startTime->setTime(at(-60).time()); // before the span: back to its start
    EXPECT_EQ(dialog.rangeStart(), at(0));
    EXPECT_EQ(name->text(), at(0).toString("yyyyMMdd_HHmmss"));
    slider->setLowerValue(4); // the slider moves the start and names the file after it
    EXPECT_EQ(dialog.rangeStart(), at(4));
    EXPECT_EQ(name->text(), at(4).toString("yyyyMMdd_HHmmss"));
    endTime->setTime(at(2).time()); // before the start: one second after it
    EXPECT_EQ(dialog.rangeEnd(), at(5));
    EXPECT_EQ(slider->upperValue(), 5);

    // Two channels: Left and Right add nothing, All is both.
    for (const char *box : {"checkBoxBack", "checkBoxLeft", "checkBoxRight"})
        child<QCheckBox>(&dialog, box)->setChecked(true);
    EXPECT_EQ(dialog.channels(), QVector<int>({0, 1}));
    child<QCheckBox>(&dialog, "checkBoxBack")->setChecked(false);
    EXPECT_EQ(dialog.channels(), QVector<int>({0}));
    child<QCheckBox>(&dialog, "checkBoxAll")->setChecked(true);
    EXPECT_EQ(dialog.channels(), QVector<int>({0, 1}));
    EXPECT_EQ(child<QLabel>(&dialog, "labelSelectChannel")->text(), "2/2");

    // An empty span leaves nothing to slide.
    AVIBackupDialog empty(&reader, 2);
    empty.setRange(at(0), at(0), at(0), at(0), "x");
    EXPECT_FALSE(child<RangeSlider>(&empty, "rangeSlider")->isEnabled());
}

TEST_F(BackupWindow, ExportReportsWrittenFailedOrStoppedNeverAFullBarForNothing)
{
    const qint64 start = first.start.toSecsSinceEpoch();
    struct Case {
        const char *name;
        bool stop;
        bool folderIsAFile;
        int progress;
        const char *status;
        QStringList files;
    } cases[] = {
        {"written", false, false, 100, "Written:", {"trip-0.mkv", "trip-0.smi", "trip-1.mkv", "trip-1.smi"}},
        {"stopped", true, false, 0, "Stopped", {}},
        {"failed", false, true, 0, "Failed: channel 0", {}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        AVIBackupDialog dialog(&reader, 2);
        dialog.show();
        dialog.setRange(first.start, last.end(), QDateTime::fromSecsSinceEpoch(start), last.end(), "trip");
        const QString folder = out.filePath(c.name);
        if (c.folderIsAFile)
            writeFile(folder, "a file where the folder should be");
        dialog.setFolder(folder);
        child<QCheckBox>(&dialog, "checkBoxAll")->setChecked(true);
        child<QCheckBox>(&dialog, "checkBoxDateTime")->setChecked(true);
        child<QCheckBox>(&dialog, "checkBoxSaveAudio")->setChecked(true);
        QSignalSpy done(&dialog, &AVIBackupDialog::exportFinished);
        QTest::mouseClick(child<QPushButton>(&dialog, "makeAVIBtn"), Qt::LeftButton);
        ASSERT_TRUE(dialog.isRunning());
        // Neither Close, nor Escape, nor the window's own close ends it meanwhile.
        EXPECT_FALSE(child<QPushButton>(&dialog, "closeBtn")->isEnabled());
        EXPECT_FALSE(child<QPushButton>(&dialog, "makeAVIBtn")->isEnabled());
        QTest::keyClick(&dialog, Qt::Key_Escape);
        dialog.close();
        EXPECT_TRUE(dialog.isVisible());
        if (c.stop)
            QTest::mouseClick(child<QPushButton>(&dialog, "stopBtn"), Qt::LeftButton);
        ASSERT_TRUE(done.wait(60000));
        EXPECT_FALSE(dialog.isRunning());
        EXPECT_EQ(child<QProgressBar>(&dialog, "progressBar")->value(), c.progress);
        const QString status = child<QLabel>(&dialog, "labelStatus")->text();
        EXPECT_TRUE(status.startsWith(c.status)) << status.toStdString();
        if (!c.folderIsAFile) {
            EXPECT_EQ(QDir(folder).entryList(QDir::Files, QDir::Name), c.files);
        }
        EXPECT_TRUE(child<QPushButton>(&dialog, "closeBtn")->isEnabled());
    }
}

// A picture of ffmpeg's decoding of one frame of the record card, as yuv420p.
QByteArray decodedFrame(const QString &recording, int frame)
{
    return toolOutput("ffmpeg", {"-v", "error", "-i", recording, "-map", "0:v:0", "-vf", QString("select=eq(n\\,%1)").arg(frame),
                                 "-frames:v", "1", "-f", "rawvideo", "-pix_fmt", "yuv420p", "-"});
}

TEST(CaptureWindow, SavesTheShownPictureAtItsSizeAndKeepsWhatExists)
{
    QTemporaryDir out;
    const QString recording = QDir(fixtureDir() + "/record/record").entryInfoList({"*.mp4"}, QDir::Files, QDir::Name).first().filePath();
    const QByteArray yuv = decodedFrame(recording, 12);
    ASSERT_EQ(yuv.size(), 320 * 240 * 3 / 2);
    TalGLWidget shown(0, 320, 240), blank(1, 320, 240);
    shown.resize(160, 120);
    FrameIndexEntry e;
    e.marker = FrameIndexEntry::Video;
    e.sec = 1678772725;
    shown.updateView(new H26xFrameItem(reinterpret_cast<const uint8_t *>(yuv.constData()), yuv.size(), e));

    CaptureDialog dialog;
    dialog.setFolder(out.filePath("stills"));
    dialog.setWindowFolder(out.filePath("Documents/ZidavOva/BMP"));
    dialog.setPanes({&shown, &blank});
    dialog.setWindowToGrab(&shown);
    dialog.setFileName("shot");
    child<QComboBox>(&dialog, "comboBox")->setCurrentIndex(1); // PNG
    child<QCheckBox>(&dialog, "checkBoxBack")->setChecked(true);
    QTest::mouseClick(child<QPushButton>(&dialog, "saveBtn"), Qt::LeftButton);
    // The pane that never showed a picture is reported, not saved.
    EXPECT_EQ(dialog.savedFiles(), QStringList({out.filePath("stills/shot-0.png")}));
    EXPECT_TRUE(dialog.statusText().contains("channel 1 shows no picture")) << dialog.statusText().toStdString();

    const QImage saved(out.filePath("stills/shot-0.png"));
    EXPECT_EQ(saved.size(), QSize(320, 240));
    // ImageMagick against ffmpeg's conversion of the same decoded picture, read full range as the view does.
    writeFile(out.filePath("frame.rgb"), toolOutput("ffmpeg", {"-v", "error", "-f", "rawvideo", "-s", "320x240", "-pix_fmt", "yuvj420p", "-i", "-",
                                                               "-f", "rawvideo", "-pix_fmt", "rgb24", "-"}, yuv));
    const ProcessRun psnr = runProcess("compare", {"-metric", "PSNR", "-size", "320x240", "-depth", "8", "rgb:" + out.filePath("frame.rgb"),
                                                   out.filePath("stills/shot-0.png"), "null:"});
    EXPECT_GE(psnr.err.trimmed().toDouble(), 30.0) << psnr.err.constData();

    // Overwrite off: the existing file stays; on: it is replaced.
    writeFile(out.filePath("stills/shot-0.png"), "EARLIER");
    QTest::mouseClick(child<QPushButton>(&dialog, "saveBtn"), Qt::LeftButton);
    EXPECT_EQ(readFile(out.filePath("stills/shot-0.png")), "EARLIER");
    EXPECT_TRUE(dialog.savedFiles().isEmpty());
    child<QCheckBox>(&dialog, "checkBoxOverwrite")->setChecked(true);
    QTest::mouseClick(child<QPushButton>(&dialog, "saveBtn"), Qt::LeftButton);
    EXPECT_EQ(QImage(out.filePath("stills/shot-0.png")).size(), QSize(320, 240));

    // The whole window as JPG goes to the documents folder's ZidavOva/BMP, made when missing.
    child<QComboBox>(&dialog, "comboBox")->setCurrentIndex(2);
    child<QRadioButton>(&dialog, "radioButtonAll")->click();
    EXPECT_FALSE(child<QCheckBox>(&dialog, "checkBoxFront")->isEnabled());
    QTest::mouseClick(child<QPushButton>(&dialog, "saveBtn"), Qt::LeftButton);
    EXPECT_EQ(dialog.savedFiles(), QStringList({out.filePath("Documents/ZidavOva/BMP/shot-all.jpg")}));
    EXPECT_FALSE(QImage(out.filePath("Documents/ZidavOva/BMP/shot-all.jpg")).isNull());

    // One channel box always stays checked; All then not-All leaves Front alone.
    child<QRadioButton>(&dialog, "radioButton1")->click();
    auto *all = child<QCheckBox>(&dialog, "checkBoxAll");
    all->setChecked(true);
    all->setChecked(false);
    QStringList checked;
    for (const char *box : {"checkBoxFront", "checkBoxBack", "checkBoxLeft", "checkBoxRight"})
        if (child<QCheckBox>(&dialog, box)->isChecked())
            checked << box;
    EXPECT_EQ(checked, QStringList({"checkBoxFront"}));
    child<QCheckBox>(&dialog, "checkBoxFront")->setChecked(false);
    EXPECT_TRUE(child<QCheckBox>(&dialog, "checkBoxFront")->isChecked());
}

TEST(ExportToolbar, OpensTheWindowsAndAClosingViewerStopsItsExport)
{
    QTemporaryDir home;
    qputenv("HOME", home.path().toLocal8Bit());
    TalViewerMainDialog window;
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    ASSERT_EQ(window.loadPath(fixtureDir() + "/record"), 0);
    TopMenuWidget *bar = window.toolbar();
    auto *backupButton = child<QPushButton>(bar, "btnAVI");
    auto *captureButton = child<QPushButton>(bar, "btnCapture");
    EXPECT_TRUE(backupButton->isVisible() && captureButton->isVisible());

    const QString folder = home.filePath("exports");
    bool seen = false;
    QTimer::singleShot(300, [&] {
        AVIBackupDialog *dialog = window.exportCommands()->backupDialog();
        ASSERT_NE(dialog, nullptr);
        seen = true;
        // The span of the card, the current (first) recording preselected.
        const FileRecord first = window.catalogue()->files().first();
        EXPECT_EQ(dialog->rangeStart(), first.start);
        EXPECT_EQ(dialog->rangeEnd(), first.end());
        dialog->setFolder(folder);
        dialog->setRange(first.start, window.catalogue()->files().last().end(), first.start,
                         window.catalogue()->files().last().end(), "long");
        child<QCheckBox>(dialog, "checkBoxAll")->setChecked(true);
        QTest::mouseClick(child<QPushButton>(dialog, "makeAVIBtn"), Qt::LeftButton);
        EXPECT_TRUE(dialog->isRunning());
        window.close(); // as a window manager or SIGTERM would
    });
    QTest::mouseClick(backupButton, Qt::LeftButton);
    EXPECT_TRUE(seen);
    EXPECT_EQ(window.exportCommands()->backupDialog(), nullptr);
    // Whatever the export had reached, no part file is left.
    EXPECT_TRUE(QDir(folder).entryList({"*.part"}, QDir::Files).isEmpty());
    for (const QFileInfo &f : QDir(folder).entryInfoList({"*.mkv"}, QDir::Files))
        EXPECT_EQ(runProcess("ffmpeg", {"-v", "error", "-i", f.filePath(), "-f", "null", "-"}).err, QByteArray()) << f.fileName().toStdString();
}

} // namespace
