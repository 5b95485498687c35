// Recording names, trailers in both forms and the FileRecord equality rule.
#include "CardFiles.h"
#include "FileRecord.h"
#include "FileTrailer.h"
#include "RecordingName.h"

#include <QBuffer>

using namespace cardfiles;

TEST(RecordingName, FormsLettersAndExtensions)
{
    // Fields: sequence, event kind, parking, flag 3, flag 4, MF2; none: no parse.
    const struct { const char *name; QVector<quint32> fields; } cases[] = {
        {"REC_0000012_20230314-054525_NDNN.MF2", {12, 0, 0, 0, 0, 1}},
        {"REC_0000013_20230314-054525_EPPP.mp4", {13, 1, 1, 1, 1, 0}},
        {"REC_0000014_20230314-054525_XDNN.MF2", {14, 2, 0, 0, 0, 1}},
        {"REC_0000015_20230314-054525_FDNP.mf2", {15, 3, 0, 0, 1, 0}}, // lower case: MP4
        {"REC_0000016_20230314-054525_MDNN.mp4", {16, 2, 0, 0, 0, 0}},
        {"E_0000017_20230314-054525_P.MF2", {17, 1, 1, 0, 0, 0}},      // form B: never MF2
        {"N_0000018_20230314-054525_D.mp4", {18, 0, 0, 0, 0, 0}},
        {"REC_0000019_20230314-054525_D.mp", {19, 0, 0, 0, 0, 0}},     // short suffix: L2 only
        {"REC_0000020_20230314-054525_E.mp", {20, 0, 1, 0, 0, 0}},
        {"REC0000012", {}},                                            // no '_'
        {"REC_abc_20230314-054525_NDNN.mp4", {}},                      // no sequence
        {"REC_0000012_", {}},                                          // nothing after
        {"REC_0000012_20230314-054525", {}},                           // no letters
        {"E_0000012_20230314-054525_", {}},                            // form B without L2
        {"_0000012_20230314-054525_NDNN.mp4", {}},                     // empty first token
    };
    for (const auto &c : cases) {
        RecordingName r;
        ASSERT_EQ(parseRecordingName(c.name, &r), !c.fields.isEmpty()) << c.name;
        if (c.fields.isEmpty())
            continue;
        EXPECT_EQ((QVector<quint32>{r.sequence, r.eventKind, r.parking, r.flag3, r.flag4, r.isMF2}), c.fields) << c.name;
    }
}

// A wall-clock time the clocks skipped is read as mktime reads it (the
// offset before the change): 02:30 on the night Central Europe springs
// forward is 01:30 UTC, the moment the new clock calls 03:30.
TEST(RecordingName, StartIsLocalWallClockAndMayBeInvalid)
{
    const char *const central = "CET-1CEST,M3.5.0,M10.5.0/3";
    const struct { const char *zone, *start; qint64 utc; /* -1: invalid */ } cases[] = {
        {"KST-9", "20230314-054525", 1678772725 - 9 * 3600},
        {central, "20230326-013000", 1679790600},
        {central, "20230326-023000", 1679794200},
        {central, "20230326-033000", 1679794200},
        {central, "2023031X-054525", -1},
        {central, "20230326-025960", -1},
    };
    RecordingName r;
    for (const auto &c : cases) {
        qputenv("TZ", c.zone);
        tzset();
        ASSERT_TRUE(parseRecordingName(QByteArray("REC_0000001_") + c.start + "_NDNN.mp4", &r)) << c.start;
        EXPECT_EQ(r.start.isValid() ? r.start.toSecsSinceEpoch() : -1, c.utc) << c.zone << " " << c.start;
    }
    // A very long name parses without touching anything past the name.
    EXPECT_TRUE(parseRecordingName("REC_0000001_20230314-054525_NDNN" + QByteArray(300, 'x') + ".mp4", &r));
}

TEST(FileTrailer, OlderFormConvertsDurationAndWidensSlotsAndNameNeedsItsNul)
{
    for (const auto &[stored, seconds] : {std::pair{3500u, 3u}, {900u, 900u}, {1000u, 1000u}, {1001u, 1u}})
        EXPECT_EQ(FileTrailer::fromOlder(olderTrailer("REC_x", 2, stored)).duration(), seconds) << stored;
    const FileTrailer t = FileTrailer::fromOlder(olderTrailer("REC_x", 2, 60));
    for (int i : {0, 1, 63}) {
        EXPECT_EQ(leAt(t.bytes(), 160 + 24 * i, 4), 1000u + i);
        EXPECT_EQ(leAt(t.bytes(), 168 + 24 * i, 8), 0x80000000ull + i); // widened without sign
    }
    EXPECT_EQ(t.width(1), 321u);
    EXPECT_EQ(t.name(), QByteArray("REC_x"));
    EXPECT_TRUE(FileTrailer(trailer(QByteArray(64, 'R'), 1, 1)).name().isEmpty()); // no NUL: no name
}

TEST(FileTrailer, ReadsBothFormsAndRejectsMismatches)
{
    const QByteArray name = "REC_0000001_20230314-054525_NDNN.mp4", media(4096, 'm'), tail(352, '\0');
    const struct { const char *what; QByteArray file; int channels; /* 0: not found */ } cases[] = {
        {"current", media + trailer(name, 4, 60) + tail, 4},
        {"older", media + olderTrailer(name, 3, 60) + QByteArray(24, '\0'), 3},
        {"other name", media + trailer("REC_0000002_20230314-054525_NDNN.mp4", 2, 60) + tail, 0},
        {"nine channels", media + trailer(name, 9, 60) + tail, 0},
        {"shorter than 2048", trailer(name, 2, 60).left(2000), 0},
        {"empty", QByteArray(), 0},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        QBuffer buffer(const_cast<QByteArray *>(&c.file));
        buffer.open(QIODevice::ReadOnly);
        FileTrailer t;
        ASSERT_EQ(readFileTrailer(buffer, c.file.size(), trailerNameKey(name), &t), c.channels > 0);
        if (c.channels == 0)
            continue;
        EXPECT_EQ(t.channelCount(), c.channels);
        EXPECT_EQ(t.width(c.channels - 1), quint32(320 + c.channels - 1));
        EXPECT_EQ(t.width(c.channels), 0u); // later channels keep 0
    }
}

TEST(FileRecord, EqualityIgnoresPathAndTrailerAndEndAddsDuration)
{
    FileRecord a;
    a.sequence = 5;
    a.start = QDateTime::fromSecsSinceEpoch(1000);
    a.trailer = FileTrailer(trailer("x", 1, 60));
    FileRecord b = a, flagged = a, later = a;
    b.path = "/b";
    b.trailer = FileTrailer(trailer("y", 2, 90));
    flagged.flag4 = 1;
    later.start = a.start.addSecs(1);
    EXPECT_EQ(QVector<bool>({a == b, a == flagged, a == later}), QVector<bool>({true, false, false}));
    EXPECT_EQ(a.end().toSecsSinceEpoch(), 1060);
}
