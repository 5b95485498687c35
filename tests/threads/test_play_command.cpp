// zidavova-tool play: its JSON figures, and the sound it plays captured by
// SDL's disk driver and judged by sox: the generator's tone (330 + 55 Hz per
// recording ordinal) in forward play, silence in fast and backward play;
// recordings that cannot be played are passed over.
#include "ProcessRun.h"
#include "fixture_paths.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTemporaryDir>

static double soxValue(const QByteArray &report, const QString &label)
{
    const QRegularExpressionMatch m = QRegularExpression(label + ":\\s*([-0-9.]+)").match(QString::fromLatin1(report));
    return m.hasMatch() ? m.captured(1).toDouble() : -1;
}

TEST(PlayCommand, ToneInForwardPlaySilenceOtherwise)
{
    const struct { const char *card; int entry; const char *mode; double hertz; /* 0: silent */ } cases[] = {
        {"index", 1, "forward", 385}, {"record", 2, "forward", 440}, {"index", 0, "fast", 0},
        {"index", 1, "backward", 0},  {"record", 1, "backward", 0}};
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string(c.card) + " " + c.mode);
        QTemporaryDir dir;
        const QString wav = dir.filePath("out.wav");
        const QJsonObject out = QJsonDocument::fromJson(toolOutput(ZV_TOOL, {"play", fixtureDir() + "/" + c.card, "--entry",
            QString::number(c.entry), "--seconds", "3", "--mode", c.mode, "--audio-out", wav})).object();
        ASSERT_EQ(out["shown"].toArray().size(), 2);
        EXPECT_GT(out["shown"].toArray()[0].toInt(), 0);
        EXPECT_EQ(out["recordings"].toArray()[0].toInt(), c.entry);
        EXPECT_LT(out["late"].toObject()["maxMs"].toInt(), 100);
        const ProcessRun sox = runProcess("sox", {wav, "-n", "stat"}); // fails when no sound file was written
        ASSERT_EQ(sox.exitCode, 0) << sox.err.constData();
        const double rms = soxValue(sox.err, "RMS\\s+amplitude");
        if (c.hertz > 0) {
            EXPECT_GT(out["audioBytes"].toDouble(), 0);
            EXPECT_GT(rms, 0.02) << sox.err.constData();
            EXPECT_NEAR(soxValue(sox.err, "Rough\\s+frequency"), c.hertz, c.hertz * 0.02) << sox.err.constData();
        } else {
            EXPECT_TRUE(rms >= 0 && rms < 0.001) << sox.err.constData();
        }
    }
}

// record-skip: entry 0 has no sound; entries 1 and 2 cannot be played.
// Playing from entry 0 passes over both, saying why, and goes on with entry
// 3, whose sound (its tone of 495 Hz) is heard although playback started
// without any.
TEST(PlayCommand, PassesOverUnplayableEntriesAndOpensTheSoundWhenItArrives)
{
    QTemporaryDir dir;
    const QString wav = dir.filePath("out.wav");
    const QJsonObject out = QJsonDocument::fromJson(toolOutput(ZV_TOOL, {"play", fixtureDir() + "/record-skip", "--entry", "0",
        "--seconds", "12", "--audio-out", wav})).object();
    EXPECT_EQ(out["recordings"].toArray(), (QJsonArray{0, 3}));
    EXPECT_EQ(out["shown"].toArray(), (QJsonArray{100, 100}));
    EXPECT_EQ(out["dropped"].toArray(), (QJsonArray{0, 0})) << "a card this small needs no drops";
    EXPECT_EQ(out["skipped"].toArray(),
              (QJsonArray{QJsonObject{{"entry", 1}, {"reason", "it is not a readable MF2 recording"}},
                          QJsonObject{{"entry", 2}, {"reason", "it is not a readable MP4 recording"}}}));
    const ProcessRun sox = runProcess("sox", {wav, "-n", "stat"});
    ASSERT_EQ(sox.exitCode, 0) << sox.err.constData();
    EXPECT_GT(soxValue(sox.err, "RMS\\s+amplitude"), 0.02) << sox.err.constData();
    EXPECT_NEAR(soxValue(sox.err, "Rough\\s+frequency"), 495, 495 * 0.02) << sox.err.constData();
}

TEST(PlayCommand, BadArgumentsAreRefused)
{
    const QString index = fixtureDir() + "/index";
    // Refused arguments exit 2, an entry the card lacks fails with 1.
    const struct { QStringList args; int code; } cases[] = {
        {{"play"}, 2}, {{"play", index, "--mode", "sideways"}, 2}, {{"play", index, "--entry", "99"}, 1}};
    for (const auto &c : cases) {
        const ProcessRun r = runProcess(ZV_TOOL, c.args);
        EXPECT_EQ(r.exitCode, c.code) << c.args.join(' ').toStdString();
        EXPECT_FALSE(r.err.isEmpty());
    }
}
