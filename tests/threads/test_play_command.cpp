// zidavova-tool play: its JSON figures, and the sound it plays captured by
// SDL's disk driver and judged by sox: the generator's tone (330 + 55 Hz per
// recording ordinal) in forward play, silence in fast and backward play.
#include "fixture_paths.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>

#include <gtest/gtest.h>

namespace {

struct SoundCase {
    const char *name;
    const char *card;
    int entry;
    const char *mode;
    double hertz; // 0: silent
};

class PlaySound : public ::testing::TestWithParam<SoundCase> {};

double soxValue(const QByteArray &report, const char *label)
{
    const QRegularExpression re(QStringLiteral("%1:\\s*([-0-9.]+)").arg(QLatin1String(label)));
    const QRegularExpressionMatch m = re.match(QString::fromLatin1(report));
    return m.hasMatch() ? m.captured(1).toDouble() : -1;
}

TEST_P(PlaySound, ToneOrSilence)
{
    const SoundCase &c = GetParam();
    QTemporaryDir dir;
    const QString wav = dir.filePath(QStringLiteral("out.wav"));
    QProcess tool;
    tool.start(QStringLiteral(ZV_TOOL),
               {QStringLiteral("play"), fixtureDir() + QLatin1Char('/') + QLatin1String(c.card), QStringLiteral("--entry"),
                QString::number(c.entry), QStringLiteral("--seconds"), QStringLiteral("3"), QStringLiteral("--mode"),
                QLatin1String(c.mode), QStringLiteral("--audio-out"), wav});
    ASSERT_TRUE(tool.waitForFinished(30000));
    ASSERT_EQ(tool.exitCode(), 0) << tool.readAllStandardError().constData();
    const QJsonObject out = QJsonDocument::fromJson(tool.readAllStandardOutput()).object();
    const QJsonArray shown = out.value(QStringLiteral("shown")).toArray();
    ASSERT_EQ(shown.size(), 2);
    EXPECT_GT(shown.at(0).toInt(), 0);
    EXPECT_EQ(out.value(QStringLiteral("recordings")).toArray().at(0).toInt(), c.entry);
    EXPECT_LT(out.value(QStringLiteral("late")).toObject().value(QStringLiteral("maxMs")).toInt(), 100);
    ASSERT_TRUE(QFile::exists(wav));

    QProcess sox;
    sox.start(QStringLiteral("sox"), {wav, QStringLiteral("-n"), QStringLiteral("stat")});
    ASSERT_TRUE(sox.waitForFinished(30000));
    const QByteArray report = sox.readAllStandardError();
    const double rms = soxValue(report, "RMS\\s+amplitude");
    if (c.hertz > 0) {
        EXPECT_GT(out.value(QStringLiteral("audioBytes")).toDouble(), 0);
        EXPECT_GT(rms, 0.02) << report.constData();
        EXPECT_NEAR(soxValue(report, "Rough\\s+frequency"), c.hertz, c.hertz * 0.02) << report.constData();
    } else {
        EXPECT_LT(rms, 0.001) << report.constData();
    }
}

INSTANTIATE_TEST_SUITE_P(Tool, PlaySound,
                         ::testing::Values(SoundCase{"IndexPcm", "index", 1, "forward", 385},
                                           SoundCase{"RecordAac", "record", 2, "forward", 440},
                                           SoundCase{"IndexFast", "index", 0, "fast", 0},
                                           SoundCase{"IndexBackward", "index", 1, "backward", 0},
                                           SoundCase{"RecordBackward", "record", 1, "backward", 0}),
                         [](const ::testing::TestParamInfo<SoundCase> &i) { return std::string(i.param.name); });

TEST(Tool, BadArgumentsAreRefused)
{
    const QStringList bad[] = {{QStringLiteral("play")},
                               {QStringLiteral("play"), fixtureDir() + QStringLiteral("/index"), QStringLiteral("--entry"),
                                QStringLiteral("99")},
                               {QStringLiteral("play"), fixtureDir() + QStringLiteral("/index"), QStringLiteral("--mode"),
                                QStringLiteral("sideways")}};
    for (const QStringList &args : bad) {
        QProcess tool;
        tool.start(QStringLiteral(ZV_TOOL), args);
        ASSERT_TRUE(tool.waitForFinished(30000));
        EXPECT_EQ(tool.exitCode(), 1) << args.join(QLatin1Char(' ')).toStdString();
        EXPECT_FALSE(tool.readAllStandardError().isEmpty());
    }
}

} // namespace
