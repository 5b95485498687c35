// Refused options and repeatability, by running the generator itself.
#include "ProcessRun.h"

#include <QDir>
#include <QDirIterator>
#include <QMap>
#include <QTemporaryDir>

namespace {

const QString kCardgen = QStringLiteral(CARDGEN_PATH);

// A refused run is one line on stderr, exit code 2 and nothing written, not
// even into a folder that already held the user's files.
TEST(Cardgen, RefusedOptionsWriteNothing)
{
    const struct { const char *store; QStringList args; } cases[] = {
        {"record", {"--size", "321x240"}}, {"record", {"--sizes", "320x240,640x361"}},
        {"index", {"--size", "1920x1080"}}, // no resolution code the reader can use
        {"index", {"--channels", "9"}}, {"record", {"--channels", "9"}}, {"record", {"--video-streams", "17"}},
        {"index", {"--bank-size", "36864", "--recordings", "1", "--seconds", "1", "--fps", "10"}},
        {"index", {"--bank-size", "204800", "--header-at", "end", "--recordings", "1", "--seconds", "1"}},
        {"index", {"--archive-password", "1234"}}, // a password needs an archive
        {"index", {"--password", "123456789"}}, {"index", {"--events", "NP"}}, {"index", {"--damage", "zero-length"}},
        {"index", {"--header-at", "end", "--archive", "a.smb", "--archive-password", "1234567890123"}},
        {"record", {"--damage", "melted"}}, {"record", {"--format", "mf2", "--mf2-key-index", "3"}},
        {"record", {"--grain", "101"}}, {"record", {"--bitrate", "4000,0"}},
        {"record", {"--colour", "red"}}, {"record", {"--fps"}}, {"record", {"<folder with a file>"}},
        {"index", {"--zero-head"}}, {"index", {"--no-audio=1"}}, {"record", {"--cut-first-key=2"}},
        {"record", {"--claimed-size", "64x48,wide"}}, {"record", {"--recording-streams", "2,0"}},
        {"record", {"--channels", "2", "--recording-streams", "1,3"}}, {"index", {"--recording-streams", "1"}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.args.join(' ').toStdString());
        QTemporaryDir tmp;
        QString out = tmp.filePath("card");
        QStringList args = c.args;
        if (args.last().startsWith('<')) {
            ASSERT_TRUE(writeFile(tmp.filePath("photo.jpg"), "mine"));
            args.removeLast();
            out = tmp.path();
        }
        const ProcessRun r = runProcess(kCardgen, QStringList{c.store, out} + args);
        EXPECT_EQ(r.exitCode, 2);
        EXPECT_EQ(r.err.count('\n'), 1) << r.err.constData();
        EXPECT_TRUE(r.err.startsWith("cardgen: ")) << r.err.constData();
        EXPECT_EQ(QDir(tmp.path()).entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden),
                  out == tmp.path() ? QStringList{"photo.jpg"} : QStringList{});
        EXPECT_EQ(readFile(tmp.filePath("photo.jpg")), out == tmp.path() ? "mine" : "");
    }
}

QMap<QString, QByteArray> tree(const QString &root)
{
    QMap<QString, QByteArray> files;
    for (QDirIterator it(root, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories); it.hasNext();) {
        const QString path = it.next();
        files.insert(QDir(root).relativeFilePath(path), readFile(path));
    }
    return files;
}

// The same options twice give the same bytes, whatever the clock says.
TEST(Cardgen, SameOptionsGiveIdenticalCards)
{
    const QStringList cards[] = {
        {"index", "--channels", "2", "--recordings", "2", "--seconds", "1", "--fps", "10", "--events", "NE",
         "--header-at", "end", "--password", "ab12", "--damage", "time-backward"},
        {"record", "--channels", "2", "--recordings", "2", "--seconds", "1", "--fps", "10", "--format", "mixed",
         "--mf2-password", "abcd", "--size", "64x48"},
        {"record", "--channels", "2", "--recordings", "1", "--seconds", "1", "--fps", "10", "--size", "64x48",
         "--grain", "14", "--bitrate", "300,200"}};
    for (QStringList args : cards) {
        QTemporaryDir tmp;
        args.insert(1, tmp.filePath("a"));
        ASSERT_EQ(runProcess(kCardgen, args).exitCode, 0);
        args[1] = tmp.filePath("b");
        ASSERT_EQ(runProcess(kCardgen, args).exitCode, 0);
        const QMap<QString, QByteArray> a = tree(tmp.filePath("a")), b = tree(tmp.filePath("b"));
        EXPECT_FALSE(a.isEmpty());
        EXPECT_EQ(a.keys(), b.keys());
        for (auto it = a.cbegin(); it != a.cend(); ++it)
            EXPECT_TRUE(it.value() == b.value(it.key())) << args[0].toStdString() << ": " << it.key().toStdString();
    }
}

// Benchmark cards must cost what a road costs to decode: with grain the
// encoder reaches each channel's asked bit rate; the plain synthetic picture
// compresses far below it.
TEST(Cardgen, GrainBringsEachChannelToItsBitRate)
{
    const struct { const char *grain; double lowFactor, highFactor; } cases[] = {
        {"14", 0.75, 1.25},
        {"0", 0.0, 0.25},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.grain);
        QTemporaryDir tmp;
        const QString out = tmp.filePath("card");
        ASSERT_EQ(runProcess(kCardgen, {"record", out, "--channels", "2", "--recordings", "1", "--seconds", "2",
                                        "--size", "640x480", "--grain", c.grain, "--bitrate", "1600,800"})
                      .exitCode,
                  0);
        const QString file = QDir(out + "/record").entryInfoList(QDir::Files)[0].filePath();
        const QList<QByteArray> rates = toolOutput("ffprobe", {"-v", "error", "-select_streams", "v", "-show_entries",
                                                               "stream=bit_rate", "-of", "csv=p=0", file})
                                            .trimmed()
                                            .split('\n');
        ASSERT_EQ(rates.size(), 2);
        const double wanted[] = {1600e3, 800e3};
        for (int ch = 0; ch < 2; ++ch) {
            const double rate = rates[ch].trimmed().toDouble();
            EXPECT_GE(rate, wanted[ch] * c.lowFactor) << "channel " << ch;
            EXPECT_LE(rate, wanted[ch] * c.highFactor) << "channel " << ch;
        }
    }
}

} // namespace
