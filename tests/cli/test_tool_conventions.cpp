// The conventions every command of zidavova-tool keeps, checked over the
// whole command table: --help, refused arguments, --version, --quiet and the
// logging rules, stopping on a signal, frame options on both stores, and
// file names that are not valid UTF-8.
#include "FileNameCodec.h"
#include "ProcessRun.h"
#include "fixture_paths.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QThread>
#include <QXmlStreamReader>

#include <csignal>

namespace {

const QString Tool = QStringLiteral(ZV_TOOL);
// Three seconds to stop; the sanitizer build runs several times slower.
#ifdef ZV_SANITIZED
constexpr qint64 StopLimitMs = 6000;
#else
constexpr qint64 StopLimitMs = 3000;
#endif

QStringList commandNames()
{
    // The list --help prints: two spaces, the name, then its summary.
    const QByteArray help = toolOutput(Tool, {"--help"});
    QStringList names;
    const QRegularExpression row(QStringLiteral("^  ([a-z]+) +\\S"));
    for (const QByteArray &line : help.split('\n')) {
        const QRegularExpressionMatch m = row.match(QString::fromUtf8(line));
        if (m.hasMatch())
            names.append(m.captured(1));
    }
    return names;
}

ProcessRun runWithEnv(const QStringList &args, const QString &name, const QString &value)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(name, value);
    return runProcess(Tool, args, {}, env);
}

} // namespace

TEST(ToolConventions, EveryCommandHasHelpAndRefusesUnknownOptions)
{
    const QStringList names = commandNames();
    const QString readme = QString::fromUtf8(readFile(sourceDir() + "/README.md"));
    for (const char *expected : {"catalog", "frames", "telemetry", "play", "gprmc"})
        EXPECT_TRUE(names.contains(QLatin1String(expected))) << expected;
    for (const QString &name : names) {
        SCOPED_TRACE(name.toStdString());
        const ProcessRun help = runProcess(Tool, {name, "--help"});
        EXPECT_EQ(help.exitCode, 0);
        EXPECT_TRUE(help.out.startsWith("usage: zidavova-tool " + name.toUtf8())) << help.out.constData();
        EXPECT_TRUE(help.err.isEmpty()) << help.err.constData();
        // Every option the usage line names is explained below it.
        // The usage line and its continuations, then a description, then
        // the options.
        const QList<QByteArray> lines = help.out.split('\n');
        int synopsisLines = 1;
        while (synopsisLines < lines.size() && lines[synopsisLines].trimmed().startsWith('['))
            ++synopsisLines;
        const QByteArray synopsis = lines.mid(0, synopsisLines).join('\n');
        const QByteArray options = help.out.mid(synopsis.size());
        const QRegularExpression option(QStringLiteral("(--[a-z0-9-]+)"));
        for (auto it = option.globalMatch(QString::fromUtf8(synopsis)); it.hasNext();) {
            const QString o = it.next().captured(1);
            EXPECT_TRUE(options.contains("  " + o.toUtf8() + " ")) << o.toStdString();
        }

        // The README lists the command as its usage does.
        QStringList readmeForm;
        for (const QByteArray &line : synopsis.split('\n'))
            readmeForm.append(QString::fromUtf8(line.mid(7)));
        EXPECT_TRUE(readme.contains(readmeForm.join('\n'))) << readmeForm.join('\n').toStdString();

        const ProcessRun wrong = runProcess(Tool, {name, "--no-such-option"});
        EXPECT_EQ(wrong.exitCode, 2);
        EXPECT_EQ(wrong.err.count('\n'), 1) << wrong.err.constData();
        EXPECT_TRUE(wrong.out.isEmpty());
    }
}

TEST(ToolConventions, TopLevelHelpVersionAndUnknownCommands)
{
    const struct { QStringList args; int code; const char *stdoutHas; const char *stderrHas; } cases[] = {
        {{"--help"}, 0, "Commands:", ""},
        {{"--version"}, 0, "zidavova-tool ", ""},
        {{}, 2, "", "no command given"},
        {{"sideways"}, 2, "", "unknown command sideways"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.args.join(' ').toStdString());
        const ProcessRun r = runProcess(Tool, c.args);
        EXPECT_EQ(r.exitCode, c.code);
        EXPECT_TRUE(r.out.contains(c.stdoutHas)) << r.out.constData();
        EXPECT_TRUE(r.err.contains(c.stderrHas)) << r.err.constData();
    }
    const QByteArray version = toolOutput(Tool, {"--version"}).trimmed();
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^zidavova-tool \\d+\\.\\d+\\.\\d+$")).match(QString::fromUtf8(version)).hasMatch())
        << version.constData();
}

// Diagnostic lines follow QT_LOGGING_RULES and --quiet; warnings about a
// damaged recording come through whatever the rules say.
TEST(ToolConventions, DiagnosticsFollowTheRulesWarningsAlwaysShow)
{
    const QStringList play = {"play", fixtureDir() + "/index", "--seconds", "0.5"};
    const QString diagnostic = QStringLiteral("ReadThread::run...start");
    const struct { QStringList extra; const char *rules; bool shown; } plays[] = {
        {{}, "", true},
        {{"--quiet"}, "", false},
        {{}, "zidavova.playback.debug=false", false},
        {{}, "zidavova.reader.debug=false", true},
    };
    for (const auto &c : plays) {
        SCOPED_TRACE(std::string(c.rules) + c.extra.join(' ').toStdString());
        const ProcessRun r = runWithEnv(play + c.extra, "QT_LOGGING_RULES", c.rules);
        EXPECT_EQ(r.exitCode, 0) << r.err.constData();
        EXPECT_EQ(r.err.contains(diagnostic.toUtf8()), c.shown) << r.err.constData();
    }

    // The damaged card's bank with an entry size past its end.
    const QJsonObject catalogue = QJsonDocument::fromJson(toolOutput(Tool, {"catalog", fixtureDir() + "/index-damaged"})).object();
    QStringList warned;
    for (const QJsonValue &e : catalogue["entries"].toArray()) {
        const QString entry = QString::number(e.toObject()["index"].toInt());
        const ProcessRun r = runWithEnv({"frames", fixtureDir() + "/index-damaged", "--entry", entry, "--quiet"},
                                        "QT_LOGGING_RULES", "*=false");
        if (r.err.contains("damaged entry"))
            warned.append(entry);
    }
    EXPECT_FALSE(warned.isEmpty());
}

// Interrupted play still reports what was shown, with 128 + the signal.
TEST(ToolConventions, PlayStopsOnSignalsWithItsReport)
{
    for (int sig : {SIGINT, SIGTERM}) {
        SCOPED_TRACE(sig);
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("SDL_AUDIODRIVER", "dummy");
        p.setProcessEnvironment(env);
        p.start(Tool, {"play", fixtureDir() + "/record", "--seconds", "60"});
        ASSERT_TRUE(p.waitForStarted());
        // Signalled once pictures flow (sanitizer builds start slowly).
        QByteArray err;
        QElapsedTimer started;
        started.start();
        while (!err.contains("RenderThread::run()") && started.elapsed() < 30000 && p.state() == QProcess::Running) {
            p.waitForReadyRead(100);
            err += p.readAllStandardError();
        }
        ASSERT_TRUE(err.contains("RenderThread::run()")) << err.constData();
        QThread::msleep(500);
        QElapsedTimer clock;
        clock.start();
        ::kill(pid_t(p.processId()), sig);
        ASSERT_TRUE(p.waitForFinished(10000));
        EXPECT_LT(clock.elapsed(), StopLimitMs);
        EXPECT_EQ(p.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(p.exitCode(), 128 + sig);
        const QJsonObject out = QJsonDocument::fromJson(p.readAllStandardOutput()).object();
        ASSERT_FALSE(out.isEmpty());
        EXPECT_GT(out["shown"].toArray().at(0).toInt(), 0);
        EXPECT_LT(out["wallMs"].toDouble(), 10000);
    }
}

// --limit and --backward mean the same on both stores: the limit compares
// with the serial each line prints; backward hands out the latest GOP first,
// the frames of a GOP in decode order.
TEST(ToolConventions, FrameOptionsWorkOnBothStores)
{
    for (const char *card : {"index", "record"}) {
        SCOPED_TRACE(card);
        const auto lines = [&](const QStringList &extra) {
            QVector<QJsonObject> out;
            for (const QByteArray &l : toolOutput(Tool, QStringList{"frames", fixtureDir() + "/" + card, "--entry", "0"} + extra).split('\n'))
                if (!l.isEmpty())
                    out.append(QJsonDocument::fromJson(l).object());
            return out;
        };
        const QVector<QJsonObject> forward = lines({});
        ASSERT_GT(forward.size(), 40);
        const qint64 first = qint64(forward.first()["serial"].toDouble());
        const qint64 limit = first + 20;

        const QVector<QJsonObject> limited = lines({"--limit", QString::number(limit)});
        ASSERT_FALSE(limited.isEmpty());
        for (const QJsonObject &f : limited)
            EXPECT_GE(qint64(f["serial"].toDouble()), limit);

        const QVector<QJsonObject> backward = lines({"--backward", "--limit", QString::number(limit)});
        ASSERT_FALSE(backward.isEmpty());
        // Channel 0's video: GOPs latest first, in decode order inside.
        QVector<QVector<qint64>> gops;
        for (const QJsonObject &f : backward) {
            EXPECT_LE(qint64(f["serial"].toDouble()), limit);
            if (f["marker"].toInt() != 0x7777 || f["ch"].toInt() != 0)
                continue;
            if (f["gop"].toInt() == 0 || gops.isEmpty())
                gops.append(QVector<qint64>());
            gops.last().append(qint64(f["serial"].toDouble()));
        }
        ASSERT_GE(gops.size(), 1);
        for (int g = 0; g < gops.size(); ++g) {
            EXPECT_TRUE(std::is_sorted(gops[g].begin(), gops[g].end()));
            if (g > 0) {
                EXPECT_LT(gops[g].first(), gops[g - 1].first());
            }
        }
    }
}

// A card under a folder whose name is not valid UTF-8 opens, and the GPX
// name of a path with control characters is still well-formed XML.
TEST(ToolConventions, PathsThatAreNotPlainTextStillWork)
{
    // This process passes the odd name on to its children, so it needs the
    // same lossless file-name codec as the tool.
    installLosslessFileNames();
    QTemporaryDir dir;
    const QByteArray oddName = QFile::encodeName(dir.path()) + "/card-\xff\xfe\x01";
    ASSERT_TRUE(QDir().mkpath(QFile::decodeName(oddName)));
    const QString copy = QFile::decodeName(oddName);
    ASSERT_EQ(runProcess("cp", {"-r", fixtureDir() + "/record/.", copy}).exitCode, 0);
    ASSERT_TRUE(QFile::exists(copy + "/record"));

    const ProcessRun catalog = runProcess(Tool, {"catalog", copy});
    EXPECT_EQ(catalog.exitCode, 0) << catalog.err.constData();
    EXPECT_EQ(QJsonDocument::fromJson(catalog.out).object()["entries"].toArray().size(), 3);

    const ProcessRun gpx = runProcess(Tool, {"telemetry", copy, "--entry", "0", "--format", "gpx"});
    ASSERT_EQ(gpx.exitCode, 0) << gpx.err.constData();
    QXmlStreamReader xml(gpx.out);
    int points = 0;
    while (!xml.atEnd())
        if (xml.readNext() == QXmlStreamReader::StartElement && xml.name() == QLatin1String("trkpt"))
            ++points;
    EXPECT_FALSE(xml.hasError()) << xml.errorString().toStdString();
    EXPECT_GT(points, 0);
}
