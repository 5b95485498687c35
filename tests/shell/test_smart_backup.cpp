// Smart Backup through the window on the generated cards: choosing at most
// 50 distinct recordings, two recordings of the index card backed up with a
// password, opened and played; a record card copied into a folder and an
// archive opened over it; closing the window in the middle of a backup.
#include "CardFiles.h"
#include "EventMenuWidget.h"
#include "PaneManager.h"
#include "PasswordDialog.h"
#include "PlaybackHost.h"
#include "SettingsTestHome.h"
#include "Reader.h"
#include "SmartBackupDialog.h"
#include "TalViewerMainDialog.h"
#include "TopMenuWidget.h"
#include "Transport.h"
#include "fixture_paths.h"

#include <QApplication>
#include <QCheckBox>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSet>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include <functional>

using namespace cardfiles;

namespace {

QString card(const char *name) { return QDir(fixtureDir()).filePath(QLatin1String(name)); }

template <typename T> T *child(QWidget *w, const char *name) { return w->findChild<T *>(QLatin1String(name)); }

void selectRows(QTableWidget *table, const QVector<int> &rows)
{
    table->clearSelection();
    for (int r : rows)
        table->selectionModel()->select(table->model()->index(r, 0),
                                        QItemSelectionModel::Select | QItemSelectionModel::Rows);
}

bool waitFor(const std::function<bool()> &done, int ms)
{
    QElapsedTimer clock;
    clock.start();
    while (!done() && clock.elapsed() < ms)
        QTest::qWait(20);
    return done();
}

// Opens the Smart Backup dialog from the toolbar and runs drive inside its
// modal loop. A password dialog would mean the typed password did not open
// the archive: it is refused and counted.
int runSmartBackup(TalViewerMainDialog &window, const std::function<void(SmartBackupDialog *)> &drive)
{
    int passwordPrompts = 0;
    QTimer watchdog;
    QObject::connect(&watchdog, &QTimer::timeout, [&] {
        if (auto *prompt = qobject_cast<PasswordDialog *>(QApplication::activeModalWidget())) {
            ++passwordPrompts;
            prompt->reject();
        }
    });
    watchdog.start(100);
    QTimer::singleShot(0, [&] { drive(window.smartBackupDialog()); });
    child<QPushButton>(window.toolbar(), "btnSmart")->click();
    return passwordPrompts;
}

int rows(TalViewerMainDialog &w) { return child<QTableWidget>(w.eventList(), "tableWidget")->rowCount(); }

bool everyPaneHasVideo(TalViewerMainDialog &window)
{
    for (int i = 0; i < window.paneGrid()->paneCount(); ++i)
        if (!window.paneGrid()->hasVideo(i))
            return false;
    return true;
}

// A window closed in one test must not end the dialog loops of the next;
// the viewer's settings and default folders live in a temporary HOME.
struct SmartBackupWindow : testing::Test {
    void SetUp() override { QApplication::setQuitOnLastWindowClosed(false); }
    SettingsTestHome home;
};

} // namespace

TEST(SmartBackupChoice, AtMostFiftyDistinctRecordings)
{
    QList<EventItem *> items;
    for (int i = 0; i < 60; ++i) {
        auto *item = new EventItem;
        item->index = i;
        item->block = 1 + i / 10;
        item->startTime = QDateTime(QDate(2023, 3, 14), QTime(5, 45, 25)).addSecs(60 * i);
        item->type = i % 2;
        items.append(item);
    }
    QTemporaryDir tmp;
    writeFile(tmp.path() + "/backup0.smb", "earlier");
    SmartBackupDialog dialog;
    dialog.setItems(items);
    dialog.setOutputFolder(tmp.path());
    qDeleteAll(items);
    auto *source = child<QTableWidget>(&dialog, "sourceTable");
    auto *target = child<QTableWidget>(&dialog, "targetTable");
    auto *count = child<QLabel>(&dialog, "countLabel");
    auto *start = child<QPushButton>(&dialog, "btnStart");
    ASSERT_EQ(source->rowCount(), 60);
    EXPECT_EQ(QStringList({source->item(1, 0)->text(), source->item(1, 1)->text(), source->item(1, 2)->text(),
                           source->item(1, 3)->text()}),
              QStringList({"1", "1", "2023-03-14 05:46:25", "Event"}));
    EXPECT_EQ(dialog.outputPath(), tmp.path() + "/backup1.smb");
    EXPECT_FALSE(start->isEnabled());

    enum Action { Add, AddAll, Remove, RemoveAll };
    const struct { const char *what; Action action; QVector<int> rows; int chosen; bool full; } steps[] = {
        {"three", Add, {4, 2, 9}, 3, false},
        {"two of them again", Add, {2, 4}, 3, false},
        {"all sixty", AddAll, {}, 50, true},
        {"five out", Remove, {0, 1, 2, 3, 4}, 45, false},
        {"all sixty again", AddAll, {}, 50, true},
        {"everything out", RemoveAll, {}, 0, false},
    };
    for (const auto &s : steps) {
        SCOPED_TRACE(s.what);
        QTableWidget *table = s.action == Add || s.action == AddAll ? source : target;
        if (s.action == AddAll || s.action == RemoveAll)
            table->selectAll();
        else
            selectRows(table, s.rows);
        child<QPushButton>(&dialog, s.action == Add || s.action == AddAll ? "btnAdd" : "btnRemove")->click();
        EXPECT_EQ(dialog.chosenCount(), s.chosen);
        EXPECT_EQ(target->rowCount(), s.chosen);
        EXPECT_EQ(count->text(), QString("%1 / 50").arg(s.chosen));
        EXPECT_EQ(dialog.status().contains("50"), s.full);
        EXPECT_EQ(start->isEnabled(), s.chosen > 0);
        QSet<QString> numbers;
        for (int r = 0; r < target->rowCount(); ++r)
            numbers.insert(target->item(r, 0)->text());
        EXPECT_EQ(numbers.size(), s.chosen);
    }
}

TEST_F(SmartBackupWindow, TwoRecordingsOfTheIndexCardBackedUpOpenedAndPlayed)
{
    QTemporaryDir tmp;
    const QString out = tmp.path() + "/trip/backup0.smb";
    // The default output is the first free name in the configured folder.
    const QString configured = tmp.path() + "/configured";
    QDir().mkpath(configured);
    writeFile(configured + "/backup0.smb", "earlier");
    QDir().mkpath(home.documents() + "/ZidavOva");
    writeFile(home.documents() + "/ZidavOva/config.ini", "[Viewer]\nSmartBackup_Folder=" + configured.toUtf8() + "\n");
    TalViewerMainDialog window;
    window.setStartPath(card("index"));
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    ASSERT_EQ(rows(window), 3);
    const QVector<BankEntry> cardBanks = window.catalogue()->banks();
    auto *list = child<QTableWidget>(window.eventList(), "tableWidget");
    emit list->cellDoubleClicked(0, 0);
    ASSERT_TRUE(waitFor([&] { return everyPaneHasVideo(window); }, 2000));

    bool pausedWhileOpen = false;
    QString defaultOutput;
    const int prompts = runSmartBackup(window, [&](SmartBackupDialog *dialog) {
        ASSERT_NE(dialog, nullptr);
        pausedWhileOpen = window.transport()->isPaused();
        defaultOutput = dialog->outputPath();
        selectRows(child<QTableWidget>(dialog, "sourceTable"), {2, 1});
        child<QPushButton>(dialog, "btnAdd")->click();
        child<QCheckBox>(dialog, "checkPassword")->setChecked(true);
        child<QLineEdit>(dialog, "editPassword")->setText("road-2023");
        child<QLineEdit>(dialog, "editOutput")->setText(QDir::toNativeSeparators(out));
        child<QPushButton>(dialog, "btnStart")->click();
    });
    EXPECT_TRUE(pausedWhileOpen);
    EXPECT_EQ(defaultOutput.toStdString(), (configured + "/backup1.smb").toStdString());
    EXPECT_EQ(prompts, 0);
    EXPECT_EQ(window.smartBackupDialog(), nullptr);
    EXPECT_EQ(QFileInfo(out).size(), 556 + 2 * 72 + 2 * qint64(cardBanks[1].bankSize));
    EXPECT_EQ(filesBelow(tmp.path()), QStringList({"configured/backup0.smb", "trip/backup0.smb"}));

    // The archive is what the window shows now, in the catalogue's order.
    EXPECT_TRUE(window.catalogue()->source().kind == SourceKind::Archive);
    ASSERT_EQ(rows(window), 2);
    const QVector<BankEntry> archived = window.catalogue()->banks();
    EXPECT_EQ(QVector<qint64>({archived[0].start, archived[1].start}), QVector<qint64>({cardBanks[1].start, cardBanks[2].start}));
    EXPECT_EQ(window.loadedStorageMode(), 1);
    EXPECT_FALSE(window.playbackHost()->isRunning());

    qint64 firstMs = -1;
    QObject::connect(&window, &TalViewerMainDialog::leadingFrameShown, [&](int index, qint64 ms) {
        if (index == 1 && firstMs < 0)
            firstMs = ms;
    });
    emit list->cellDoubleClicked(1, 0);
    ASSERT_TRUE(waitFor([&] { return everyPaneHasVideo(window) && firstMs >= 0; }, 3000));
    EXPECT_EQ(window.paneGrid()->paneCount(), 2);
    EXPECT_GE(firstMs, archived[1].start * 1000);
    EXPECT_LE(firstMs, archived[1].end * 1000);
    window.close();
}

TEST_F(SmartBackupWindow, RecordCardCopiedToAFolderThenArchivesOpenedOverIt)
{
    QTemporaryDir tmp;
    TalViewerMainDialog window;
    window.setStartPath(card("record"));
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    ASSERT_EQ(window.loadedStorageMode(), 2);
    const QVector<FileRecord> files = window.catalogue()->files();
    QString status;
    runSmartBackup(window, [&](SmartBackupDialog *dialog) {
        ASSERT_NE(dialog, nullptr);
        EXPECT_EQ(dialog->outputPath().toStdString(), (home.documents() + "/ZidavOva/SmartBackup/backup0").toStdString());
        EXPECT_FALSE(child<QCheckBox>(dialog, "checkPassword")->isEnabled());
        selectRows(child<QTableWidget>(dialog, "sourceTable"), {0, 2});
        child<QPushButton>(dialog, "btnAdd")->click();
        child<QLineEdit>(dialog, "editOutput")->setText(tmp.path() + "/copies");
        child<QPushButton>(dialog, "btnStart")->click();
        waitFor([&] { return !dialog->isRunning(); }, 20000);
        status = dialog->status();
        dialog->reject();
    });
    EXPECT_TRUE(status.startsWith("2 of 2 recordings copied")) << status.toStdString();
    for (int i : {0, 2}) {
        const QString name = QFileInfo(files[i].path).fileName();
        EXPECT_EQ(toolOutput("md5sum", {tmp.path() + "/copies/" + name}).left(32),
                  toolOutput("md5sum", {files[i].path}).left(32)) << name.toStdString();
    }
    EXPECT_EQ(filesBelow(tmp.path()).size(), 2);
    // Nothing else changed: the card is still open.
    EXPECT_EQ(window.loadedStorageMode(), 2);

    // Open Archive over a record card: the archive decides its own store.
    runSmartBackup(window, [&](SmartBackupDialog *dialog) {
        ASSERT_NE(dialog, nullptr);
        QTimer::singleShot(0, [&] {
            auto *files = qobject_cast<QFileDialog *>(QApplication::activeModalWidget());
            ASSERT_NE(files, nullptr);
            files->selectFile(card("index.smb"));
            static_cast<QDialog *>(files)->accept();
        });
        child<QPushButton>(dialog, "btnOpenArchive")->click();
    });
    EXPECT_EQ(window.loadedStorageMode(), 1);
    EXPECT_EQ(QDir::cleanPath(window.catalogue()->source().root), QDir::cleanPath(card("index.smb")));
    EXPECT_EQ(rows(window), 3);

    // The password given with an archive opens it; a wrong one leaves the
    // user to be asked.
    int asked = 0;
    window.catalogue()->setPasswordPrompt([&](PasswordKind, const QByteArray &, int) { return ++asked, false; });
    EXPECT_EQ(window.loadArchive(card("index-pw.smb"), "secret13"), -1);
    EXPECT_EQ(QDir::cleanPath(window.catalogue()->source().root), QDir::cleanPath(card("index.smb")));
    EXPECT_EQ(window.loadArchive(card("index-pw.smb"), "secret12"), 0);
    EXPECT_EQ(asked, 1);
    EXPECT_EQ(rows(window), 3);
    window.close();
}

TEST_F(SmartBackupWindow, ClosingTheWindowStopsTheBackupAndLeavesNoArchive)
{
    // Six banks of 32 MiB: the backup is still running when the window closes.
    QTemporaryDir tmp;
    const QString root = tmp.path() + "/card";
    ASSERT_TRUE(sparseIndexCard(root, 6, 32 << 20));
    QDir().mkpath(tmp.path() + "/out");

    TalViewerMainDialog window;
    window.setStartPath(root);
    window.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    ASSERT_EQ(rows(window), 6);
    bool wasRunning = false;
    runSmartBackup(window, [&](SmartBackupDialog *dialog) {
        ASSERT_NE(dialog, nullptr);
        child<QTableWidget>(dialog, "sourceTable")->selectAll();
        child<QPushButton>(dialog, "btnAdd")->click();
        child<QLineEdit>(dialog, "editOutput")->setText(tmp.path() + "/out/big.smb");
        child<QPushButton>(dialog, "btnStart")->click();
        wasRunning = dialog->isRunning();
        window.close();
    });
    EXPECT_TRUE(wasRunning);
    EXPECT_EQ(filesBelow(tmp.path() + "/out"), QStringList());
    EXPECT_EQ(window.smartBackupDialog(), nullptr);
    EXPECT_FALSE(window.isVisible());
}
