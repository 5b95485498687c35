// `zidavova-tool settings` on generated cards: the values as the dialogs
// show them, whether they were read faithfully and why not, the exit codes,
// and not one byte of the card changed.
#include "ProcessRun.h"
#include "fixture_paths.h"

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTemporaryDir>

namespace {

struct ToolRun { int code; QJsonObject out; QByteArray err; };

ToolRun settings(const QStringList &args)
{
    const ProcessRun r = runProcess(binaryDir() + "/cli/zidavova-tool", QStringList{"settings"} + args);
    return {r.exitCode, QJsonDocument::fromJson(r.out).object(), r.err};
}

QByteArray sums(const QString &dir)
{
    return toolOutput("sh", {"-c", "cd \"$0\" && find . -type f | sort | xargs md5sum", dir});
}

} // namespace

TEST(SettingsCli, ShowsEachStoreAndNeverWrites)
{
    QTemporaryDir tmp;
    ASSERT_EQ(runProcess("cp", {"-a", fixtureDir() + "/index-pw", fixtureDir() + "/record", tmp.path()}).exitCode, 0);
    const QString indexCard = tmp.filePath("index-pw"), recordCard = tmp.filePath("record");
    const QByteArray before = sums(tmp.path());

    const ToolRun index = settings({indexCard, "--password", "1234"});
    ASSERT_EQ(index.code, 0) << index.err.constData();
    const QJsonObject iv = index.out.value("values").toObject();
    const struct {
        const char *key;
        QJsonValue value;
    } indexCases[] = {{"company", "Acme Fleet"}, {"licensePlate", "ZV-1234"}, {"recordFrame", "Minimum (7.5 FPS)"},
        {"recordQuality", "High"}, {"timeZone", "GMT  00:00"}, {"ledDriving", "Blink"}, {"ledDrivingSpeed", 1},
        {"overspeedLimit", "120Km/h"}, {"eventRecordRatio", "30%"}, {"cardPassword", true}, {"voltage", "12.0 V"}};
    for (const auto &c : indexCases)
        EXPECT_EQ(iv.value(c.key), c.value) << c.key;
    EXPECT_EQ(index.out.value("store").toString(), "index");
    EXPECT_EQ(index.out.value("source").toString(), "setup block");
    EXPECT_TRUE(index.out.value("faithful").toBool());
    EXPECT_EQ(settings({indexCard}).code, 1);   // the card's password is required

    const ToolRun record = settings({recordCard});
    ASSERT_EQ(record.code, 0) << record.err.constData();
    const QJsonObject rv = record.out.value("values").toObject();
    EXPECT_EQ(record.out.value("source").toString(), "settings image");
    EXPECT_EQ(rv.value("codec").toString(), "H.265");
    EXPECT_EQ(rv.value("memoryAllocation").toString(), "DRIVING(70) /PARKING(30)");
    EXPECT_EQ(rv.value("timeZone").toString(), "GMT -12:00");
    EXPECT_EQ(rv.value("model").toString(), "Drive Recorder ZV08");
    EXPECT_EQ(rv.value("channels").toArray().size(), 2);

    // A damaged settings file is still shown, marked not faithful with the reason.
    QByteArray cfg = readFile(recordCard + "/Config/ZidavOva.cfg");
    cfg[3000] = char(cfg[3000] ^ 1);
    ASSERT_TRUE(writeFile(recordCard + "/Config/ZidavOva.cfg", cfg));
    const QByteArray damaged = sums(tmp.path());
    const ToolRun bad = settings({recordCard});
    EXPECT_EQ(bad.code, 0);
    EXPECT_FALSE(bad.out.value("faithful").toBool());
    EXPECT_TRUE(bad.out.value("reason").toString().contains("MD5"));
    EXPECT_EQ(sums(tmp.path()), damaged);
    // Cut short it cannot be read at all.
    ASSERT_TRUE(writeFile(recordCard + "/Config/ZidavOva.cfg", cfg.left(18343)));
    const ToolRun cut = settings({recordCard});
    EXPECT_EQ(cut.code, 1);
    EXPECT_TRUE(cut.err.contains("18343")) << cut.err.constData();
    ASSERT_TRUE(writeFile(recordCard + "/Config/ZidavOva.cfg", readFile(fixtureDir() + "/record/Config/ZidavOva.cfg")));
    EXPECT_EQ(sums(tmp.path()), before);
}

TEST(SettingsCli, ArgumentsAndSourcesWithoutSettings)
{
    const struct {
        QStringList args;
        int code;
    } cases[] = {
        {{"--help"}, 0},
        {{}, 2},
        {{fixtureDir() + "/record", "--bogus"}, 2},
        {{fixtureDir() + "/record/record"}, 1},        // a loose folder has no card
        {{fixtureDir() + "/index.smb"}, 1},            // nor has an archive
        {{fixtureDir() + "/no-such-card"}, 1},
    };
    for (const auto &c : cases) {
        const ToolRun r = settings(c.args);
        EXPECT_EQ(r.code, c.code) << c.args.join(' ').toStdString();
        if (c.code != 0) {
            EXPECT_TRUE(r.out.isEmpty());
            EXPECT_EQ(r.err.count('\n'), 1) << r.err.constData();
        }
    }
}
