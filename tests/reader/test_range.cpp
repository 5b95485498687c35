// Export range selection: every entry overlapping [from, to], in catalogue
// order, also when from or to falls into a gap.
#include "CardFiles.h"
#include "Reader.h"

#include <QTemporaryDir>

using namespace cardfiles;

namespace {
// Entries [0,60], [100,160], [1000,1060] relative to a base time.
constexpr qint64 Base = 1700000000;
const qint64 Starts[] = {0, 100, 1000};

const struct { qint64 from, to; QVector<quint32> taken; /* sequence numbers */ } Cases[] = {
    {10, 20, {1}},
    {70, 90, {}},        // wholly inside a gap
    {70, 120, {2}},      // from in a gap
    {30, 500, {1, 2}},   // to in a gap
    {150, 5000, {2, 3}}, // to after the last entry
    {-100, 0, {1}},      // touching the first start
    {60, 100, {1, 2}},   // touching an end and a start
    {2000, 3000, {}},
};

// Selects each case in the store and compares the sequence numbers taken.
void expectRanges(Reader &reader, int store, const std::function<QVector<quint32>()> &taken)
{
    for (const auto &c : Cases) {
        SCOPED_TRACE(QStringLiteral("%1..%2").arg(c.from).arg(c.to).toStdString());
        EXPECT_EQ(reader.selectRange(store, Base + c.from, Base + c.to), c.taken.size());
        EXPECT_EQ(taken(), c.taken);
    }
}
} // namespace

TEST(RangeSelection, BanksOverlappingTheRange)
{
    QTemporaryDir tmp;
    QVector<Bank> list;
    for (quint16 i = 0; i < 3; ++i)
        list.append({quint16(i + 1), quint32(i + 1), 0, '0', qint32(Base + Starts[i]), qint32(Base + Starts[i] + 60)});
    Reader reader;
    ASSERT_EQ(reader.openIndexFile(indexCard(tmp.path(), indexFile(0, 1, 40000), banks(list, 40000))), 0);
    ASSERT_EQ(reader.loadBanks(tmp.path()), 3);
    expectRanges(reader, 1, [&] {
        QVector<quint32> seqs;
        for (const BankEntry &b : reader.exportBanks())
            seqs << b.bankSeq;
        return seqs;
    });
}

TEST(RangeSelection, FilesEndAtStartPlusDuration)
{
    qputenv("TZ", "UTC");
    tzset();
    QTemporaryDir tmp;
    for (int i = 0; i < 3; ++i) {
        const QString name = QStringLiteral("REC_%1_%2_NDNN.mp4").arg(i + 1, 7, 10, QLatin1Char('0'))
                                 .arg(QDateTime::fromSecsSinceEpoch(Base + Starts[i]).toString("yyyyMMdd-HHmmss"));
        recording(tmp.path(), name, trailer(name.toUtf8(), 1, 60));
    }
    Reader reader;
    ASSERT_EQ(reader.scanFolder(tmp.path()), 3);
    expectRanges(reader, 2, [&] {
        QVector<quint32> seqs;
        for (const FileRecord &f : reader.exportFiles())
            seqs << f.sequence;
        return seqs;
    });
}
