// The setup block's bytes against the viewer's settings: saving without an
// edit keeps every byte, each edit reaches exactly its bytes, and the
// password staged in the block opens the card as typed.
#include "PasswordCheck.h"
#include "SetupBlock.h"
#include "SettingsTestHome.h"

#include <QRandomGenerator>
#include <gtest/gtest.h>

#include <functional>

namespace {

QByteArray randomBlock(quint32 seed)
{
    QRandomGenerator rng(seed);
    QByteArray b(SetupBlock::Size, '\0');
    for (char &c : b)
        c = char(rng.bounded(256));
    return b;
}

QByteArray withByte17(QByteArray b)
{
    b[17] = char(34);
    return b;
}

} // namespace

TEST(SetupBlock, SavingWithoutAnEditKeepsEveryValueOfEveryByte)
{
    SettingsTestHome home;
    const ConfigValues base = Config::defaults();
    // Every value of each single-byte field; the edge values of every other byte.
    const QVector<int> fields = {10, 11, 12, 13, 14, 15, 18, 19, 20, 28, 29, 30, 81, 83, 84, 85, 86, 88, 91, 92,
        94, 105, 143, 144, 147, 308, 310, 353, 354, 355};
    for (int offset = 0; offset < SetupBlock::Size; ++offset) {
        const QVector<int> values = fields.contains(offset) ? QVector<int>() : QVector<int>{0, 1, 0x7F, 0x80, 0xFF};
        for (int value = 0; value < 256; ++value) {
            if (!values.isEmpty() && !values.contains(value))
                continue;
            QByteArray block = randomBlock(quint32(offset));
            block[offset] = char(value);
            const ConfigValues loaded = SetupBlock::load(block, base, QByteArray());
            ASSERT_EQ(SetupBlock::store(block, loaded, loaded), withByte17(block)) << offset << " = " << value;
        }
    }
}

TEST(SetupBlock, EachEditReachesItsBytesAndReadsBack)
{
    SettingsTestHome home;
    const QByteArray block = randomBlock(99);
    const ConfigValues loaded = SetupBlock::load(block, Config::defaults(), QByteArray());
    const struct {
        const char *name;
        std::function<void(ConfigValues &)> edit;
        QVector<int> bytes;
        std::function<bool(const QByteArray &)> check;
    } cases[] = {
        {"frame 0 -> code 4", [](ConfigValues &v) { v.recordFrame = v.recordFrame == 0 ? 1 : 0; }, {10},
         [&](const QByteArray &b) { return quint8(b[10]) == (loaded.recordFrame == 0 ? 2 : 4); }},
        {"LED blink speed 1 -> code 3", [](ConfigValues &v) { v.ledDrivingType = 2; v.ledDrivingSpeed = 1; }, {92},
         [](const QByteArray &b) { return b[92] == 3; }},
        {"LED parking off -> code 0", [](ConfigValues &v) { v.ledParkingType = 0; v.ledParkingSpeed = 0; }, {91},
         [](const QByteArray &b) { return b[91] == 0; }},
        {"front camera off sets bit 4 only", [](ConfigValues &v) { v.connectedCamera[0] = !v.connectedCamera[0]; }, {88},
         [&](const QByteArray &b) { return (quint8(b[88]) ^ quint8(block[88])) == 0x10; }},
        {"impact off sets bit 0 only", [](ConfigValues &v) { v.events[0] = !v.events[0]; }, {308},
         [&](const QByteArray &b) { return (quint8(b[308]) ^ quint8(block[308])) == 0x01; }},
        {"overspeed goes to 310, 143 stays", [](ConfigValues &v) { v.overspeedLimit = 77; }, {310},
         [](const QByteArray &b) { return b[310] == 77; }},
        {"time zone -14 is a signed byte", [](ConfigValues &v) { v.gmt = -14; }, {28},
         [](const QByteArray &b) { return quint8(b[28]) == 242; }},
        {"auto shutdown u32", [](ConfigValues &v) { v.autoShutdownTimer = 1440; }, {144, 145, 146, 147},
         [](const QByteArray &b) { return quint8(b[144]) == 0xA0 && b[145] == 5 && b[146] == 0 && b[147] == 0; }},
        {"company cut at 12 bytes", [](ConfigValues &v) { v.company = "Fleet Logistics GmbH"; }, {94, 95, 96, 97, 98, 99, 100, 101, 102, 103, 104, 105},
         [](const QByteArray &b) { return b.mid(94, 12) == "Fleet Logist"; }},
        {"driver zero-padded", [](ConfigValues &v) { v.driver = "Jo"; }, {127, 128, 129, 130, 131, 132, 133, 134, 135, 136, 137, 138, 139, 140, 141},
         [](const QByteArray &b) { return b.mid(127, 15) == QByteArray("Jo") + QByteArray(13, '\0'); }},
        {"voice and volume", [](ConfigValues &v) { v.voiceRecord = !v.voiceRecord; v.volume = 4; }, {11, 12},
         [](const QByteArray &b) { return b[12] == 4; }},
        {"g-sensor parking Z", [](ConfigValues &v) { v.gSensorParking[2] = 9; }, {86},
         [](const QByteArray &b) { return b[86] == 9; }},
        {"folder changes no byte", [](ConfigValues &v) { v.aviFolder = "/elsewhere"; v.displayKm = !v.displayKm; }, {},
         [](const QByteArray &) { return true; }},
    };
    for (const auto &c : cases) {
        ConfigValues edited = loaded;
        c.edit(edited);
        const QByteArray out = SetupBlock::store(block, edited, loaded);
        for (int i = 0; i < SetupBlock::Size; ++i) {
            if (i != 17 && out[i] != block[i]) {
                EXPECT_TRUE(c.bytes.contains(i)) << c.name << ": byte " << i << " changed";
            }
        }
        EXPECT_TRUE(c.check(out)) << c.name;
        EXPECT_EQ(out[17], 34) << c.name;
        // Loading what was stored shows the edit (except the one-way overspeed).
        const ConfigValues back = SetupBlock::load(out, edited, QByteArray());
        if (QByteArray(c.name).startsWith("overspeed")) {
            EXPECT_EQ(back.overspeedLimit, quint8(block[143])) << c.name;
        } else if (!QByteArray(c.name).startsWith("company")) {
            EXPECT_TRUE(back == edited) << c.name;
        }
    }
}

TEST(SetupBlock, LoadMappings)
{
    SettingsTestHome home;
    const struct {
        int offset;
        int value;
        std::function<bool(const ConfigValues &)> check;
    } cases[] = {
        {10, 4, [](const ConfigValues &v) { return v.recordFrame == 0; }},
        {10, 2, [](const ConfigValues &v) { return v.recordFrame == 1; }},
        {10, 3, [](const ConfigValues &v) { return v.recordFrame == 2; }},
        {10, 1, [](const ConfigValues &v) { return v.recordFrame == 0; }},
        {92, 2, [](const ConfigValues &v) { return v.ledDrivingType == 2 && v.ledDrivingSpeed == 2; }},
        {92, 3, [](const ConfigValues &v) { return v.ledDrivingType == 2 && v.ledDrivingSpeed == 1; }},
        {92, 1, [](const ConfigValues &v) { return v.ledDrivingType == 1; }},
        {88, 16, [](const ConfigValues &v) { return !v.connectedCamera[0] && v.connectedCamera[1] && v.connectedCamera[3]; }},
        {28, 0xF2, [](const ConfigValues &v) { return v.gmt == -14; }},
        {28, 0x80, [](const ConfigValues &v) { return v.gmt == -128; }},
        {308, 0x81, [](const ConfigValues &v) { return !v.events[0] && v.events[1] && !v.events[7]; }},
    };
    for (const auto &c : cases) {
        QByteArray block(SetupBlock::Size, '\0');
        block[c.offset] = char(c.value);
        EXPECT_TRUE(c.check(SetupBlock::load(block, Config::defaults(), QByteArray()))) << c.offset << "=" << c.value;
    }
    // A text filled to its last byte keeps every character; the model code
    // replaces the firmware number.
    QByteArray block(SetupBlock::Size, '\0');
    block.replace(118, 8, "ZV-12345");
    block[1] = char(0x3B);
    block[2] = char(0x27);
    EXPECT_EQ(SetupBlock::load(block, Config::defaults(), QByteArray()).licensePlate, QString("ZV-12345"));
    EXPECT_EQ(SetupBlock::load(block, Config::defaults(), QByteArray()).firmwareVersion, QString("10043"));
    EXPECT_EQ(SetupBlock::load(block, Config::defaults(), QByteArray("KX41\0\0", 6)).firmwareVersion, QString("KX41"));
}

TEST(SetupBlock, TimeZonesHaveExplicitOffsetsAndUnknownCodesAreNamed)
{
    const struct {
        int code;
        int minutes;
        const char *label;
    } cases[] = {{27, 390, "GMT +06:30"}, {-14, -210, "GMT -03:30"}, {-18, -270, "GMT -04:30"},
        {35, 525, "GMT +08:45"}, {-48, -720, "GMT -12:00"}, {56, 840, "GMT +14:00"}};
    for (const auto &c : cases) {
        const int i = SetupBlock::timeZoneIndexForCode(c.code);
        ASSERT_GE(i, 0) << c.code;
        EXPECT_EQ(SetupBlock::timeZones()[i].minutes, c.minutes);
        EXPECT_EQ(SetupBlock::timeZoneIndexForMinutes(c.minutes), i);
        EXPECT_EQ(SetupBlock::timeZoneLabel(c.code), QString(c.label));
    }
    EXPECT_EQ(SetupBlock::timeZones().size(), 40);
    EXPECT_EQ(SetupBlock::timeZoneLabel(26), QString("Unknown (26)"));
    EXPECT_EQ(SetupBlock::timeZoneIndexForMinutes(405), -1);
    // Every label's own text agrees with its offset.
    for (const SetupBlock::TimeZone &z : SetupBlock::timeZones()) {
        const QString l(z.label);
        const int m = l.midRef(5, 2).toInt() * 60 + l.midRef(8, 2).toInt();
        EXPECT_EQ(z.minutes, l[4] == '-' ? -m : m) << z.label;
    }
    EXPECT_EQ(SetupBlock::autoShutdownIndex(30), 1);
    EXPECT_EQ(SetupBlock::autoShutdownIndex(1440), 8);
    EXPECT_EQ(SetupBlock::autoShutdownIndex(0), 0);
    EXPECT_EQ(SetupBlock::autoShutdownIndex(45), -1);
}

TEST(SetupBlock, PasswordChangeIsAcceptedAsTyped)
{
    using R = SetupBlock::PasswordChange;
    QByteArray withPassword(SetupBlock::Size, '\0');
    ASSERT_EQ(SetupBlock::changePassword(withPassword, "", "1234", "1234"), R::Staged);
    const struct {
        const char *current, *next, *confirm;
        R result;
        const char *opens;   // what the password dialog then accepts (null: no password in force)
    } cases[] = {
        {"1234", "abcdefgh", "abcdefgh", R::Staged, "abcdefgh"},
        {"123", "x", "x", R::WrongCurrent, "1234"},
        {"12345", "x", "x", R::WrongCurrent, "1234"},
        {"", "x", "x", R::WrongCurrent, "1234"},
        {"1234", "abc", "abd", R::Different, "1234"},
        {"1234", "abcdefghi", "abcdefghi", R::TooLong, "1234"},
        {"1234", "pässwört", "pässwört", R::TooLong, "1234"},
        {"1234", "päss", "päss", R::Staged, "päss"},
        {"1234", "a\x14z", "a\x14z", R::BadCharacter, "1234"},
        {"1234", "", "", R::Staged, nullptr},
    };
    for (const auto &c : cases) {
        QByteArray block = withPassword;
        block[28] = char(0x5A);
        EXPECT_EQ(SetupBlock::changePassword(block, QString::fromUtf8(c.current), QString::fromUtf8(c.next),
                                             QString::fromUtf8(c.confirm)), c.result) << c.next;
        EXPECT_EQ(block[28], char(0x5A)) << c.next;
        if (!c.opens) {
            EXPECT_FALSE(cardPasswordInForce(block));
            continue;
        }
        ASSERT_TRUE(cardPasswordInForce(block)) << c.next;
        const QByteArray typed = QString::fromUtf8(c.opens).toUtf8();
        EXPECT_TRUE(passwordMatches(PasswordKind::Card, typed, block.mid(20, 8), 8)) << c.next;
        if (typed.size() < 8) {
            EXPECT_FALSE(passwordMatches(PasswordKind::Card, typed + "x", block.mid(20, 8), 8)) << c.next;
        }
        EXPECT_FALSE(passwordMatches(PasswordKind::Card, typed.left(typed.size() - 1), block.mid(20, 8), 8)) << c.next;
    }
    // No password in force: the current field is not asked for.
    QByteArray open(SetupBlock::Size, '\0');
    EXPECT_EQ(SetupBlock::changePassword(open, "anything", "neu", "neu"), R::Staged);
}
