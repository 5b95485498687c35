// zidavova-tool backup on the generated cards: refused arguments touch
// nothing; an archive written with a password opens with it in catalog,
// frames and play and hands out the card's own streams; a folder copy never
// replaces without --overwrite; a signal stops a backup and leaves nothing.
#include "CardFiles.h"
#include "fixture_paths.h"

#include <QElapsedTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

#include <csignal>

using namespace cardfiles;

namespace {

const QString Tool = QStringLiteral(ZV_TOOL);

QString card(const char *name) { return fixtureDir() + "/" + name; }

QJsonObject json(const QByteArray &out) { return QJsonDocument::fromJson(out).object(); }

QVector<qint64> starts(const QJsonObject &catalogue)
{
    QVector<qint64> s;
    for (const QJsonValue &e : catalogue["entries"].toArray())
        s.append(qint64(e.toObject()["start"].toDouble()));
    return s;
}

} // namespace

TEST(BackupCli, RefusedArgumentsWriteNothing)
{
    QTemporaryDir tmp;
    const QString out = tmp.path() + "/new.smb", existing = tmp.path() + "/old.smb";
    writeFile(existing, "earlier backup");
    const QString index = card("index"), record = card("record"), archive = card("index.smb");
    const struct { QStringList args; const char *why; } cases[] = {
        {{index, "--out", out}, "--entries"},
        {{index, "--entries", "one", "--out", out}, "--entries"},
        {{index, "--entries", "0,0", "--out", out}, "twice"},
        {{index, "--entries", "2-1", "--out", out}, "backward"},
        {{index, "--entries", "0-50", "--out", out}, "at most 50"},
        {{index, "--entries", "7", "--out", out}, "no entry 7"},
        {{index, "--entries", "0", "--out", tmp.path() + "/new.zip"}, ".smb"},
        {{index, "--entries", "0", "--out", out, "--out-dir", tmp.path()}, "either"},
        {{index, "--entries", "0", "--out-dir", tmp.path()}, "--out FILE.smb"},
        {{record, "--entries", "0", "--out", out}, "--out-dir DIR"},
        {{index, "--entries", "0", "--out", existing}, "exists already"},
        {{archive, "--entries", "0", "--out", archive, "--overwrite"}, "being backed up"},
        {{index, "--entries", "0", "--out", out, "--password", ""}, "--password"},
        {{index, "--entries", "0", "--out", out, "--sideways"}, "--sideways"},
    };
    const QByteArray archiveBytes = readFile(archive);
    for (const auto &c : cases) {
        SCOPED_TRACE(c.args.join(' ').toStdString());
        const ProcessRun r = runProcess(Tool, QStringList{"backup"} + c.args);
        EXPECT_EQ(r.exitCode, 2);
        EXPECT_TRUE(r.out.isEmpty()) << r.out.constData();
        EXPECT_TRUE(r.err.contains(c.why)) << r.err.constData();
        EXPECT_EQ(r.err.count('\n'), 1) << r.err.constData();
    }
    EXPECT_EQ(filesBelow(tmp.path()), QStringList{"old.smb"});
    EXPECT_EQ(readFile(existing), "earlier backup");
    EXPECT_TRUE(readFile(archive) == archiveBytes);
}

TEST(BackupCli, ArchiveWithPasswordOpensInEveryCommandAndHoldsTheCardsStreams)
{
    QTemporaryDir tmp;
    const QString out = tmp.path() + "/trip.smb";
    const ProcessRun r = runProcess(Tool, {"backup", card("index"), "--entries", "2,0", "--out", out, "--password", "road-2023"});
    ASSERT_EQ(r.exitCode, 0) << r.err.constData();
    const QJsonObject summary = json(r.out);
    EXPECT_EQ(summary["entries"].toArray(), (QJsonArray{2, 0}));
    EXPECT_TRUE(summary["password"].toBool());
    EXPECT_EQ(summary["output"].toString(), out);
    const QJsonObject cardCatalogue = json(toolOutput(Tool, {"catalog", card("index")}));
    const qint64 bankSize = qint64(cardCatalogue["entries"][0]["bankSize"].toDouble());
    EXPECT_EQ(QFileInfo(out).size(), 556 + 2 * 72 + 2 * bankSize);
    EXPECT_TRUE(r.err.contains("backup: 2/2")) << r.err.constData();

    const ProcessRun locked = runProcess(Tool, {"catalog", out});
    EXPECT_EQ(locked.exitCode, 1);
    EXPECT_TRUE(locked.err.contains("password refused")) << locked.err.constData();
    const QJsonObject archived = json(toolOutput(Tool, {"catalog", out, "--password", "road-2023"}));
    const QVector<qint64> cardStarts = starts(cardCatalogue);
    EXPECT_EQ(starts(archived), (QVector<qint64>{cardStarts[0], cardStarts[2]}));

    // The archive's first entry is the card's first: the same streams.
    for (const char *dir : {"card", "archive"})
        QDir().mkpath(tmp.path() + "/" + dir);
    toolOutput(Tool, {"frames", card("index"), "--entry", "0", "--dump", tmp.path() + "/card"});
    toolOutput(Tool, {"frames", out, "--entry", "0", "--password", "road-2023", "--dump", tmp.path() + "/archive"});
    for (const char *stream : {"video-0.es", "video-1.es"}) {
        const QByteArray sum = toolOutput("md5sum", {tmp.path() + "/card/" + stream}).left(32);
        EXPECT_EQ(toolOutput("md5sum", {tmp.path() + "/archive/" + stream}).left(32), sum) << stream;
    }
    const QByteArray frames = toolOutput("ffprobe", {"-v", "error", "-f", "h264", "-count_frames", "-select_streams", "v:0",
                                                     "-show_entries", "stream=nb_read_frames", "-of", "csv=p=0",
                                                     tmp.path() + "/archive/video-0.es"});
    EXPECT_GT(frames.trimmed().toInt(), 20);

    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("SDL_AUDIODRIVER", "dummy");
    const ProcessRun play = runProcess(Tool, {"play", out, "--entry", "1", "--seconds", "1", "--password", "road-2023"}, {}, env);
    ASSERT_EQ(play.exitCode, 0) << play.err.constData();
    const QJsonObject shown = json(play.out);
    EXPECT_GT(shown["shown"].toArray().at(0).toInt(), 0);
    EXPECT_EQ(shown["recordings"].toArray(), QJsonArray{1});
}

TEST(BackupCli, FolderCopyReplacesOnlyWithOverwrite)
{
    QTemporaryDir tmp;
    const QString dir = tmp.path() + "/copies";
    const QJsonObject catalogue = json(toolOutput(Tool, {"catalog", card("record")}));
    const QStringList args = {"backup", card("record"), "--entries", "2,0", "--out-dir", dir};
    const struct { const char *what; QStringList extra; int code, copied, skipped; } runs[] = {
        {"first copy", {}, 0, 2, 0}, {"again", {}, 1, 0, 2}, {"again, replacing", {"--overwrite"}, 0, 2, 0},
    };
    for (const auto &run : runs) {
        SCOPED_TRACE(run.what);
        if (QByteArray(run.what) == "again")
            writeFile(dir + "/" + QFileInfo(catalogue["entries"][0]["path"].toString()).fileName(), "changed");
        const ProcessRun r = runProcess(Tool, args + run.extra);
        EXPECT_EQ(r.exitCode, run.code) << r.err.constData();
        const QJsonObject summary = json(r.out);
        EXPECT_EQ(summary["copied"].toArray().size(), run.copied);
        EXPECT_EQ(summary["skipped"].toArray().size(), run.skipped);
        if (run.copied > 0) {
            EXPECT_EQ(summary["copied"][0]["entry"].toInt(), 2);
        }
        for (int entry : {0, 2}) {
            const QString source = catalogue["entries"][entry]["path"].toString();
            const QString copy = dir + "/" + QFileInfo(source).fileName();
            if (run.code == 0) {
                EXPECT_EQ(toolOutput("md5sum", {copy}).left(32), toolOutput("md5sum", {source}).left(32));
            }
        }
        EXPECT_EQ(filesBelow(dir).size(), 2);
    }
}

TEST(BackupCli, SignalStopsTheBackupAndLeavesNothing)
{
    QTemporaryDir tmp;
    const QString root = tmp.path() + "/card";
    ASSERT_TRUE(sparseIndexCard(root, 8, 64 << 20));
    QDir().mkpath(tmp.path() + "/out");
    for (int sig : {SIGINT, SIGTERM}) {
        SCOPED_TRACE(sig);
        QProcess p;
        p.start(Tool, {"backup", root, "--entries", "0-7", "--out", tmp.path() + "/out/big.smb", "--quiet"});
        ASSERT_TRUE(p.waitForStarted());
        QByteArray err;
        QElapsedTimer clock;
        clock.start();
        while (!err.contains("backup: 1/8") && clock.elapsed() < 30000 && p.state() == QProcess::Running) {
            p.waitForReadyRead(50);
            err += p.readAllStandardError();
        }
        ASSERT_TRUE(err.contains("backup: 1/8")) << err.constData();
        ::kill(pid_t(p.processId()), sig);
        ASSERT_TRUE(p.waitForFinished(10000));
        EXPECT_EQ(p.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(p.exitCode(), 128 + sig);
        EXPECT_TRUE(p.readAllStandardOutput().isEmpty());
        EXPECT_EQ(filesBelow(tmp.path() + "/out"), QStringList());
    }
}
