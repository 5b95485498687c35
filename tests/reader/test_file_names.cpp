// Recording names, trailers in both forms and the FileRecord equality rule.
#include "CardFiles.h"
#include "FileRecord.h"
#include "FileTrailer.h"
#include "RecordingName.h"

#include <QBuffer>
#include <gtest/gtest.h>

using namespace cardfiles;

struct NameCase {
    const char *name;
    bool parses;
    quint32 sequence, eventKind, parking, flag3, flag4, isMF2;
};

TEST(RecordingName, FormsLettersAndExtensions)
{
    const NameCase cases[] = {
        {"REC_0000012_20230314-054525_NDNN.MF2", true, 12, 0, 0, 0, 0, 1},
        {"REC_0000013_20230314-054525_EPPP.mp4", true, 13, 1, 1, 1, 1, 0},
        {"REC_0000014_20230314-054525_XDNN.MF2", true, 14, 2, 0, 0, 0, 1},
        {"REC_0000015_20230314-054525_FDNP.mf2", true, 15, 3, 0, 0, 1, 0},   // lower case: MP4
        {"REC_0000016_20230314-054525_MDNN.mp4", true, 16, 2, 0, 0, 0, 0},
        {"E_0000017_20230314-054525_P.MF2", true, 17, 1, 1, 0, 0, 0},        // form B: never MF2
        {"N_0000018_20230314-054525_D.mp4", true, 18, 0, 0, 0, 0, 0},
        {"REC_0000019_20230314-054525_D.mp", true, 19, 0, 0, 0, 0, 0},       // short suffix: L2 only
        {"REC_0000020_20230314-054525_E.mp", true, 20, 0, 1, 0, 0, 0},
        {"REC0000012", false, 0, 0, 0, 0, 0, 0},                              // no '_'
        {"REC_abc_20230314-054525_NDNN.mp4", false, 0, 0, 0, 0, 0, 0},        // no sequence
        {"REC_0000012_", false, 0, 0, 0, 0, 0, 0},                             // nothing after
        {"REC_0000012_20230314-054525", false, 0, 0, 0, 0, 0, 0},             // no letters
        {"E_0000012_20230314-054525_", false, 0, 0, 0, 0, 0, 0},              // form B without L2
        {"_0000012_20230314-054525_NDNN.mp4", false, 0, 0, 0, 0, 0, 0},       // empty first token
    };
    for (const NameCase &c : cases) {
        SCOPED_TRACE(c.name);
        RecordingName r;
        ASSERT_EQ(parseRecordingName(c.name, &r), c.parses);
        if (!c.parses)
            continue;
        EXPECT_EQ(r.sequence, c.sequence);
        EXPECT_EQ(r.eventKind, c.eventKind);
        EXPECT_EQ(r.parking, c.parking);
        EXPECT_EQ(r.flag3, c.flag3);
        EXPECT_EQ(r.flag4, c.flag4);
        EXPECT_EQ(r.isMF2, c.isMF2);
    }
}

TEST(RecordingName, StartIsLocalWallClockAndMayBeInvalid)
{
    qputenv("TZ", "KST-9");
    tzset();
    RecordingName r;
    ASSERT_TRUE(parseRecordingName("REC_0000001_20230314-054525_NDNN.mp4", &r));
    EXPECT_EQ(r.start.toSecsSinceEpoch(), 1678772725 - 9 * 3600);
    ASSERT_TRUE(parseRecordingName("REC_0000001_2023031X-054525_NDNN.mp4", &r));
    EXPECT_FALSE(r.start.isValid());
    // A very long name parses without touching anything past the name.
    const QByteArray longName = "REC_0000001_20230314-054525_NDNN" + QByteArray(300, 'x') + ".mp4";
    EXPECT_TRUE(parseRecordingName(longName, &r));
}

TEST(FileTrailer, OlderFormConvertsDurationAndWidensSlots)
{
    const struct { quint32 stored, seconds; } durations[] = {{3500, 3}, {900, 900}, {1000, 1000}, {1001, 1}};
    for (const auto &d : durations) {
        const FileTrailer t = FileTrailer::fromOlder(olderTrailer("REC_x", 2, d.stored));
        EXPECT_EQ(t.duration(), d.seconds) << d.stored;
    }
    const FileTrailer t = FileTrailer::fromOlder(olderTrailer("REC_x", 2, 60));
    const char *b = t.bytes().constData();
    for (int i : {0, 1, 63}) {
        quint32 a;
        quint64 v;
        memcpy(&a, b + 160 + 24 * i, 4);
        memcpy(&v, b + 168 + 24 * i, 8);
        EXPECT_EQ(a, 1000u + i);
        EXPECT_EQ(v, 0x80000000ull + i);   // widened without sign
    }
    EXPECT_EQ(t.width(1), 321u);
}

TEST(FileTrailer, ReadsBothFormsAndRejectsMismatches)
{
    const QByteArray name = "REC_0000001_20230314-054525_NDNN.mp4";
    const QByteArray key = trailerNameKey(name);
    struct Case {
        const char *what;
        QByteArray file;
        bool found;
        int channels;
    } cases[] = {
        {"current", QByteArray(4096, 'm') + trailer(name, 4, 60) + QByteArray(352, '\0'), true, 4},
        {"older", QByteArray(4096, 'm') + olderTrailer(name, 3, 60) + QByteArray(24, '\0'), true, 3},
        {"other name", QByteArray(4096, 'm') + trailer("REC_0000002_20230314-054525_NDNN.mp4", 2, 60)
                           + QByteArray(352, '\0'), false, 0},
        {"nine channels", QByteArray(4096, 'm') + trailer(name, 9, 60) + QByteArray(352, '\0'), false, 0},
        {"shorter than 2048", trailer(name, 2, 60).left(2000), false, 0},
        {"empty", QByteArray(), false, 0},
    };
    for (Case &c : cases) {
        SCOPED_TRACE(c.what);
        QBuffer buffer(&c.file);
        buffer.open(QIODevice::ReadOnly);
        FileTrailer t;
        ASSERT_EQ(readFileTrailer(buffer, c.file.size(), key, &t), c.found);
        if (!c.found)
            continue;
        EXPECT_EQ(t.channelCount(), c.channels);
        EXPECT_EQ(t.width(c.channels - 1), quint32(320 + c.channels - 1));
        EXPECT_EQ(t.width(c.channels), 0u);   // later channels keep 0
    }
}

TEST(FileTrailer, NameNeedsItsNul)
{
    EXPECT_EQ(FileTrailer(trailer("REC_a.mp4", 1, 1)).name(), QByteArray("REC_a.mp4"));
    EXPECT_TRUE(FileTrailer(trailer(QByteArray(64, 'R'), 1, 1)).name().isEmpty());
}

TEST(FileRecord, EqualityIgnoresPathAndTrailerAndEndAddsDuration)
{
    FileRecord a;
    a.path = "/a";
    a.sequence = 5;
    a.start = QDateTime::fromSecsSinceEpoch(1000);
    a.trailer = FileTrailer(trailer("x", 1, 60));
    FileRecord b = a;
    b.path = "/b";
    b.trailer = FileTrailer(trailer("y", 2, 90));
    EXPECT_TRUE(a == b);
    b.flag4 = 1;
    EXPECT_FALSE(a == b);
    b = a;
    b.start = b.start.addSecs(1);
    EXPECT_FALSE(a == b);
    EXPECT_EQ(a.end().toSecsSinceEpoch(), 1060);
}
