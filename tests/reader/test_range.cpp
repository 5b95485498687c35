// Export range selection: every entry overlapping [from, to], in catalogue
// order, also when from or to falls into a gap.
#include "CardFiles.h"
#include "Reader.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace cardfiles;

namespace {
// Entries [0,60], [100,160], [1000,1060] relative to a base time.
constexpr qint64 Base = 1700000000;
const qint64 Starts[] = {0, 100, 1000};

struct RangeCase {
    qint64 from, to;
    QVector<int> taken;   // positions in the catalogue
};

const RangeCase Cases[] = {
    {10, 20, {0}},
    {70, 90, {}},           // wholly inside a gap
    {70, 120, {1}},         // from in a gap
    {30, 500, {0, 1}},      // to in a gap
    {150, 5000, {1, 2}},    // to after the last entry
    {-100, 0, {0}},         // touching the first start
    {60, 100, {0, 1}},      // touching an end and a start
    {2000, 3000, {}},
};
} // namespace

TEST(RangeSelection, BanksOverlappingTheRange)
{
    QTemporaryDir tmp;
    writeFile(tmp.path() + "/index.ibx", indexFile(0, 1, 40000));
    QByteArray data;
    for (int i = 0; i < 3; ++i) {
        Bank b;
        b.seq = quint16(i + 1);
        b.sortKey = quint32(i + 1);
        b.start = qint32(Base + Starts[i]);
        b.end = b.start + 60;
        data.append(bank(b, 40000));
    }
    writeFile(tmp.path() + "/00.ibx", data);
    Reader reader;
    ASSERT_EQ(reader.openIndexFile(tmp.path()), 0);
    ASSERT_EQ(reader.loadBanks(tmp.path()), 3);
    for (const RangeCase &c : Cases) {
        SCOPED_TRACE(QStringLiteral("%1..%2").arg(c.from).arg(c.to).toStdString());
        ASSERT_EQ(reader.selectRange(1, Base + c.from, Base + c.to), c.taken.size());
        const QVector<BankEntry> list = reader.exportBanks();
        for (int i = 0; i < c.taken.size(); ++i)
            EXPECT_EQ(list[i].bankSeq, c.taken[i] + 1);
    }
}

TEST(RangeSelection, FilesEndAtStartPlusDuration)
{
    qputenv("TZ", "UTC");
    tzset();
    QTemporaryDir tmp;
    for (int i = 0; i < 3; ++i) {
        const QDateTime start = QDateTime::fromSecsSinceEpoch(Base + Starts[i]);
        const QString name = QStringLiteral("REC_%1_%2_NDNN.mp4")
                                 .arg(i + 1, 7, 10, QLatin1Char('0'))
                                 .arg(start.toString("yyyyMMdd-HHmmss"));
        recording(tmp.path(), name, trailer(name.toUtf8(), 1, 60));
    }
    Reader reader;
    ASSERT_EQ(reader.scanFolder(tmp.path()), 3);
    for (const RangeCase &c : Cases) {
        SCOPED_TRACE(QStringLiteral("%1..%2").arg(c.from).arg(c.to).toStdString());
        ASSERT_EQ(reader.selectRange(2, Base + c.from, Base + c.to), c.taken.size());
        const QVector<FileRecord> list = reader.exportFiles();
        for (int i = 0; i < c.taken.size(); ++i)
            EXPECT_EQ(list[i].sequence, quint32(c.taken[i] + 1));
    }
}
