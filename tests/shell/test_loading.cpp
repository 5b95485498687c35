// Loading through the main window on the generated cards: the start-up
// search over injected drives, the path argument, drops of every kind,
// failing and locked cards, and the first show that must run once.
#include "DriveList.h"
#include "EventMenuWidget.h"
#include "PaneManager.h"
#include "ProcessRun.h"
#include "Reader.h"
#include "SourceRecognition.h"
#include "TalViewerMainDialog.h"
#include "TopMenuWidget.h"
#include "fixture_paths.h"

#include <QDir>
#include <QDropEvent>
#include <QFileInfo>
#include <QMimeData>
#include <QPushButton>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QUrl>
#include <gtest/gtest.h>

namespace {

QString card(const char *name) { return QDir(fixtureDir()).filePath(QLatin1String(name)); }

int rows(TalViewerMainDialog &w) { return w.eventList()->findChild<QTableWidget *>("tableWidget")->rowCount(); }

std::string rootOf(TalViewerMainDialog &window) { return QDir::cleanPath(window.catalogue()->source().root).toStdString(); }

void showOn(TalViewerMainDialog &window, const QStringList &roots)
{
    window.setDriveList(DriveList(roots));
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
}

// Qt delivers a drop only to the target of a drag in progress; the test
// hands the event to the window's handler itself.
class DropTarget : public TalViewerMainDialog
{
public:
    void drop(const QUrl &url)
    {
        QMimeData data;
        data.setUrls({url});
        QDropEvent event(QPointF(600, 300), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
        dropEvent(&event);
    }
};

} // namespace

TEST(Loading, StartupTakesThePathArgumentOrElseTheFirstDriveThatHoldsACard)
{
    QTemporaryDir empty;
    const struct { QString startPath; QStringList roots; int mode; QString root; } cases[] = {
        {{}, {empty.path(), card("index"), card("record")}, 1, card("index")},
        {{}, {card("record"), card("index")}, 2, card("record")},
        {{}, {empty.path()}, 1, QString()},
        {"/no/such/card", {card("record")}, 2, card("record")},
    };
    for (const auto &c : cases) {
        TalViewerMainDialog window;
        if (!c.startPath.isEmpty())
            window.setStartPath(c.startPath);
        showOn(window, c.roots);
        EXPECT_EQ(window.loadedStorageMode(), c.mode) << c.roots.join(',').toStdString();
        EXPECT_EQ(rootOf(window), QDir::cleanPath(c.root).toStdString());
        EXPECT_EQ(rows(window), c.root.isEmpty() ? 0 : 3);
        EXPECT_EQ(window.loadedChannelCount(), c.root.isEmpty() ? 1 : 2);
        EXPECT_EQ(window.paneGrid()->paneCount(), c.root.isEmpty() ? 1 : 2);
        // Without a card the user is told why the list is empty.
        EXPECT_EQ(window.eventList()->notice().isEmpty(), !c.root.isEmpty());
    }
}

TEST(Loading, DropsAreClassifiedByWhatIsOnDisk)
{
    QTemporaryDir dir;
    const QDir recordings(card("record") + QStringLiteral("/record"));
    const QStringList names = recordings.entryList({"*.mp4"}, QDir::Files, QDir::Name);
    ASSERT_EQ(names.size(), 3);
    const QString upper = dir.filePath(QFileInfo(names[0]).completeBaseName() + ".MP4");
    const QString folder = dir.filePath("trip.mp4"), text = dir.filePath("notes.txt");
    ASSERT_TRUE(writeFile(upper, readFile(recordings.filePath(names[0]))) && QDir().mkpath(folder));
    for (const QString &name : names)
        ASSERT_TRUE(writeFile(folder + '/' + name, readFile(recordings.filePath(name))));
    ASSERT_TRUE(writeFile(text, "not a recording"));

    DropTarget window;
    showOn(window, {card("index")});
    ASSERT_EQ(rows(window), 3);
    const struct { QUrl url; int mode; QString root; /* empty: unchanged */ } cases[] = {
        // Taken as a recording; the catalogue refuses a copy whose trailer
        // names another file, and nothing changes.
        {QUrl::fromLocalFile(upper), 1, QString()},
        {QUrl::fromLocalFile(folder), 2, folder},
        {QUrl::fromLocalFile(text), 2, QString()},
        {QUrl("https://example.org/a.mp4"), 2, QString()},
        {QUrl::fromLocalFile(card("index.smb")), 1, card("index.smb")},
    };
    QString root = window.catalogue()->source().root;
    for (const auto &c : cases) {
        window.drop(c.url);
        root = c.root.isEmpty() ? root : c.root;
        EXPECT_EQ(window.loadedStorageMode(), c.mode) << c.url.toString().toStdString();
        EXPECT_EQ(rows(window), 3) << c.url.toString().toStdString();
        EXPECT_EQ(rootOf(window), QDir::cleanPath(root).toStdString()) << c.url.toString().toStdString();
    }
}

TEST(Loading, OneRuleRecognisesEverySource)
{
    QTemporaryDir dir;
    const QDir base(dir.path());
    ASSERT_TRUE(base.mkpath("plain") && base.mkpath("recordonly/record"));
    for (const char *file : {"A.MP4", "b.Mf2", "c.SMB", "notes.txt", "marker/.Pavona.cfg", "ibx/index.ibx",
                             "dat/index.dat", "trip.mp4/x.txt"})
        ASSERT_TRUE(base.mkpath(QFileInfo(file).path()) && writeFile(base.filePath(file), {})) << file;
    const struct { const char *path; SourceKind kind; } cases[] = {
        {"A.MP4", SourceKind::SingleFile}, {"b.Mf2", SourceKind::SingleFile},    {"c.SMB", SourceKind::Archive},
        {"notes.txt", SourceKind::None},   {"trip.mp4", SourceKind::Folder},     {"plain", SourceKind::Folder},
        {"marker", SourceKind::RecordCard}, {"recordonly", SourceKind::RecordCard}, {"ibx", SourceKind::IndexCard},
        {"dat", SourceKind::IndexCard},    {"missing.mp4", SourceKind::None},
    };
    for (const auto &c : cases)
        EXPECT_EQ(int(recognisePath(base.filePath(QLatin1String(c.path)))), int(c.kind)) << c.path;
}

TEST(Loading, ARefusedPasswordKeepsTheCatalogueAndAFailingCardInstallsTheFallback)
{
    TalViewerMainDialog window;
    showOn(window, {card("record")});
    ASSERT_EQ(rows(window), 3);
    int asked = 0;
    window.catalogue()->setPasswordPrompt([&](PasswordKind, const QByteArray &, int) { return ++asked, false; });
    EXPECT_EQ(window.loadPath(card("index-pw")), -1);
    EXPECT_EQ(asked, 1);
    EXPECT_EQ(window.loadedStorageMode(), 2);
    EXPECT_EQ(rows(window), 3);
    EXPECT_EQ(rootOf(window), QDir::cleanPath(card("record")).toStdString());
    EXPECT_EQ(window.catalogue()->files().size(), 3);
    EXPECT_FALSE(window.eventList()->notice().isEmpty());

    QTemporaryDir broken;
    ASSERT_TRUE(writeFile(broken.filePath("index.ibx"), QByteArray(40, '\x5a')));
    EXPECT_EQ(window.loadPath(broken.path()), -1);
    EXPECT_EQ(rows(window), 0);
    EXPECT_EQ(window.loadedChannelCount(), 1);
    EXPECT_EQ(window.loadedPaneSpecs(), (QVector<PaneSpec>{{0, 1280, 720}}));
    EXPECT_EQ(window.paneGrid()->paneCount(), 1);
    EXPECT_TRUE(window.eventList()->notice().contains(QDir::toNativeSeparators(broken.path())))
        << window.eventList()->notice().toStdString();
}

// Escape in the password dialog of a locked card at start-up: the user is
// told that card is locked and no password was given, not that no card was
// found; a card on a later drive is still taken.
TEST(Loading, EscapeInTheStartupPasswordDialogSaysTheCardIsLocked)
{
    const struct { QStringList roots; int rows; bool locked; } cases[] = {
        {{card("index-pw")}, 0, true},
        {{card("index-pw"), card("record")}, 3, false},
    };
    for (const auto &c : cases) {
        TalViewerMainDialog window;
        int escapes = 0;
        QTimer escape;
        QObject::connect(&escape, &QTimer::timeout, [&escapes] {
            QWidget *dialog = QApplication::activeModalWidget();
            if (dialog && dialog->inherits("PasswordDialog")) {
                ++escapes;
                QTest::keyClick(dialog, Qt::Key_Escape);
            }
        });
        escape.start(50);
        showOn(window, c.roots);
        EXPECT_EQ(escapes, 1);
        EXPECT_EQ(rows(window), c.rows);
        const QString notice = window.eventList()->notice();
        EXPECT_EQ(notice.contains(QStringLiteral("is locked and no password was given")), c.locked) << notice.toStdString();
        EXPECT_EQ(notice.contains(QDir::toNativeSeparators(card("index-pw"))), c.locked) << notice.toStdString();
    }
}

TEST(Loading, FirstShowRunsOnceAcrossMinimiseAndRestore)
{
    TalViewerMainDialog window;
    showOn(window, {card("index")});
    window.paneGrid()->changeLayout(0, 1);
    window.showMinimized();
    QApplication::processEvents();
    window.showNormal();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    EXPECT_EQ(window.firstShowCount(), 1);
    EXPECT_EQ(window.paneGrid()->layout(), 0);
    EXPECT_EQ(window.paneGrid()->current(), 1);
    // The toolbar's 2X1 button is connected once: a second connection would
    // press it again and move on from pair 0/1 (current 1) to pane 0.
    window.toolbar()->findChild<QPushButton *>(QStringLiteral("btn2X1"))->click();
    EXPECT_EQ(window.paneGrid()->layout(), 1);
    EXPECT_EQ(window.paneGrid()->current(), 1);
}
