// Loading through the main window on the generated cards: the start-up
// search over injected drives, the path argument, drops of every kind,
// failing and locked cards, and the first show that must run once.
#include "DriveList.h"
#include "EventMenuWidget.h"
#include "PaneManager.h"
#include "Reader.h"
#include "SourceRecognition.h"
#include "TalViewerMainDialog.h"
#include "TopMenuWidget.h"
#include "fixture_paths.h"

#include <QDir>
#include <QDropEvent>
#include <QFile>
#include <QFileInfo>
#include <QMimeData>
#include <QPushButton>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QUrl>
#include <gtest/gtest.h>

namespace {

QString card(const char *name)
{
    return QDir(fixtureDir()).filePath(QLatin1String(name));
}

int rows(TalViewerMainDialog &window)
{
    return window.eventList()->findChild<QTableWidget *>(QStringLiteral("tableWidget"))->rowCount();
}

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

TEST(Loading, StartupTakesTheFirstDriveThatHoldsACard)
{
    QTemporaryDir empty;
    struct Case {
        QStringList roots;
        int mode;
        QString root;
    } const cases[] = {
        {{empty.path(), card("index"), card("record")}, 1, card("index")},
        {{card("record"), card("index")}, 2, card("record")},
        {{empty.path()}, 1, QString()},
    };
    for (const Case &c : cases) {
        TalViewerMainDialog window;
        showOn(window, c.roots);
        EXPECT_EQ(window.loadedStorageMode(), c.mode) << c.roots.join(',').toStdString();
        EXPECT_EQ(QDir::cleanPath(window.catalogue()->source().root).toStdString(),
                  QDir::cleanPath(c.root).toStdString());
        EXPECT_EQ(rows(window), c.root.isEmpty() ? 0 : 3);
        EXPECT_EQ(window.loadedChannelCount(), c.root.isEmpty() ? 1 : 2);
        EXPECT_EQ(window.paneGrid()->paneCount(), c.root.isEmpty() ? 1 : 2);
        // Without a card the user is told why the list is empty.
        EXPECT_EQ(window.eventList()->notice().isEmpty(), !c.root.isEmpty());
    }
}

TEST(Loading, AMissingPathArgumentFallsBackToTheSearch)
{
    TalViewerMainDialog window;
    window.setStartPath(QStringLiteral("/no/such/card"));
    showOn(window, {card("record")});
    EXPECT_EQ(window.loadedStorageMode(), 2);
    EXPECT_EQ(rows(window), 3);
}

TEST(Loading, DropsAreClassifiedByWhatIsOnDisk)
{
    QTemporaryDir dir;
    const QDir recordings(card("record") + QStringLiteral("/record"));
    const QStringList names = recordings.entryList({QStringLiteral("*.mp4")}, QDir::Files, QDir::Name);
    ASSERT_EQ(names.size(), 3);
    const QString upper = dir.filePath(QFileInfo(names[0]).completeBaseName() + QStringLiteral(".MP4"));
    ASSERT_TRUE(QFile::copy(recordings.filePath(names[0]), upper));
    const QString folder = dir.filePath(QStringLiteral("trip.mp4"));
    ASSERT_TRUE(QDir().mkpath(folder));
    for (const QString &name : names)
        ASSERT_TRUE(QFile::copy(recordings.filePath(name), folder + QLatin1Char('/') + name));
    const QString text = dir.filePath(QStringLiteral("notes.txt"));
    QFile note(text);
    ASSERT_TRUE(note.open(QIODevice::WriteOnly));
    note.write("not a recording");
    note.close();

    DropTarget window;
    showOn(window, {card("index")});
    ASSERT_EQ(rows(window), 3);
    struct Case {
        QUrl url;
        int mode, rows;
        QString root;   // empty: unchanged
    } const cases[] = {
        // Taken as a recording; the catalogue refuses a copy whose trailer
        // names another file, and nothing changes.
        {QUrl::fromLocalFile(upper), 1, 3, QString()},
        {QUrl::fromLocalFile(folder), 2, 3, folder},
        {QUrl::fromLocalFile(text), 2, 3, QString()},
        {QUrl(QStringLiteral("https://example.org/a.mp4")), 2, 3, QString()},
        {QUrl::fromLocalFile(card("index.smb")), 1, 3, card("index.smb")},
    };
    QString root = window.catalogue()->source().root;
    for (const Case &c : cases) {
        window.drop(c.url);
        if (!c.root.isEmpty())
            root = c.root;
        EXPECT_EQ(window.loadedStorageMode(), c.mode) << c.url.toString().toStdString();
        EXPECT_EQ(rows(window), c.rows) << c.url.toString().toStdString();
        EXPECT_EQ(QDir::cleanPath(window.catalogue()->source().root).toStdString(),
                  QDir::cleanPath(root).toStdString())
            << c.url.toString().toStdString();
    }
}

TEST(Loading, OneRuleRecognisesEverySource)
{
    QTemporaryDir dir;
    const QDir base(dir.path());
    for (const char *folder : {"trip.mp4", "plain", "marker", "recordonly/record", "ibx", "dat"})
        ASSERT_TRUE(base.mkpath(QLatin1String(folder)));
    for (const char *file : {"A.MP4", "b.Mf2", "c.SMB", "notes.txt", "marker/.Pavona.cfg", "ibx/index.ibx",
                             "dat/index.dat", "trip.mp4/x.txt"}) {
        QFile f(base.filePath(QLatin1String(file)));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    }
    const struct {
        const char *path;
        SourceKind kind;
    } cases[] = {
        {"A.MP4", SourceKind::SingleFile},    {"b.Mf2", SourceKind::SingleFile},
        {"c.SMB", SourceKind::Archive},       {"notes.txt", SourceKind::None},
        {"trip.mp4", SourceKind::Folder},     {"plain", SourceKind::Folder},
        {"marker", SourceKind::RecordCard},   {"recordonly", SourceKind::RecordCard},
        {"ibx", SourceKind::IndexCard},       {"dat", SourceKind::IndexCard},
        {"missing.mp4", SourceKind::None},
    };
    for (const auto &c : cases)
        EXPECT_EQ(int(recognisePath(base.filePath(QLatin1String(c.path)))), int(c.kind)) << c.path;
}

TEST(Loading, AFailingCardInstallsTheFallbackAndSaysWhy)
{
    QTemporaryDir broken;
    QFile index(broken.filePath(QStringLiteral("index.ibx")));
    ASSERT_TRUE(index.open(QIODevice::WriteOnly));
    index.write(QByteArray(40, '\x5a'));
    index.close();

    TalViewerMainDialog window;
    showOn(window, {card("record")});
    ASSERT_EQ(rows(window), 3);
    EXPECT_EQ(window.loadPath(broken.path()), -1);
    EXPECT_EQ(rows(window), 0);
    EXPECT_EQ(window.loadedChannelCount(), 1);
    ASSERT_EQ(window.loadedPaneSpecs().size(), 1);
    EXPECT_EQ(window.loadedPaneSpecs().first(), (PaneSpec{0, 1280, 720}));
    EXPECT_EQ(window.paneGrid()->paneCount(), 1);
    EXPECT_TRUE(window.eventList()->notice().contains(QDir::toNativeSeparators(broken.path())))
        << window.eventList()->notice().toStdString();
}

TEST(Loading, ARefusedPasswordKeepsThePreviousCatalogue)
{
    TalViewerMainDialog window;
    showOn(window, {card("record")});
    ASSERT_EQ(rows(window), 3);
    int asked = 0;
    window.catalogue()->setPasswordPrompt([&](PasswordKind, const QByteArray &, int) {
        ++asked;
        return false;
    });
    EXPECT_EQ(window.loadPath(card("index-pw")), -1);
    EXPECT_EQ(asked, 1);
    EXPECT_EQ(window.loadedStorageMode(), 2);
    EXPECT_EQ(rows(window), 3);
    EXPECT_EQ(QDir::cleanPath(window.catalogue()->source().root).toStdString(),
              QDir::cleanPath(card("record")).toStdString());
    EXPECT_EQ(window.catalogue()->files().size(), 3);
    EXPECT_FALSE(window.eventList()->notice().isEmpty());
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
