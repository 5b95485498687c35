// Index cards through the Reader: the head, data files, bank headers, the
// card password and the setup-block write.
#include "CardFiles.h"
#include "FileAccess.h"
#include "Reader.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace cardfiles;

namespace {

constexpr quint32 SmallBank = 40000;   // header at 16384
constexpr quint32 LateBank = 210000;   // room for the header at bank size - 204800

QByteArray banks(const QVector<Bank> &list, quint32 bankSize)
{
    QByteArray bytes;
    for (const Bank &b : list)
        bytes.append(bank(b, bankSize));
    return bytes;
}

Bank makeBank(quint16 seq, quint32 sortKey, quint8 status = 0, char place = '0')
{
    Bank b;
    b.seq = seq;
    b.sortKey = sortKey;
    b.status = status;
    b.placeCode = place;
    b.start = 1700000000 + 100 * seq;
    b.end = b.start + 60;
    return b;
}

} // namespace

TEST(IndexStore, LoadsBanksSortedWithSizesAndModel)
{
    QTemporaryDir tmp;
    const QString d = tmp.path();
    writeFile(d + "/index.ibx", indexFile(0, 2, SmallBank));
    Bank dataPastBank = makeBank(9, 9);
    dataPastBank.dataEnd = SmallBank + 1;
    Bank invalid = makeBank(8, 8);
    invalid.valid = false;
    Bank late = makeBank(7, 7, 0, '5');   // 16384 is not where its header is
    writeFile(d + "/00.ibx", banks({makeBank(1, 30, 1), makeBank(2, 10), dataPastBank, invalid, late,
                                    makeBank(3, 20)}, SmallBank) + QByteArray(100, 'x'));

    Reader reader;
    ASSERT_EQ(reader.openIndexFile(d), 0);
    ASSERT_EQ(reader.loadBanks(d), 3);
    const QVector<BankEntry> list = reader.banks();
    EXPECT_EQ(list[0].bankSeq, 2);
    EXPECT_EQ(list[1].bankSeq, 3);
    EXPECT_EQ(list[2].bankSeq, 1);
    EXPECT_EQ(list[2].status, 1);
    EXPECT_EQ(list[2].offset, 0);
    EXPECT_EQ(list[1].offset, 5 * qint64(SmallBank));
    EXPECT_EQ(list[0].start, 1700000200);
    EXPECT_EQ(list[0].end, 1700000260);
    EXPECT_EQ(list[0].bankSize, SmallBank);
    EXPECT_EQ(reader.headChannelCount(), 2);
    EXPECT_EQ(reader.widths().mid(0, 3), (QVector<int>{320, 640, 0}));
    EXPECT_EQ(reader.heights().mid(0, 3), (QVector<int>{240, 480, 0}));
    EXPECT_EQ(reader.modelCode(), QByteArray("ZV42"));
}

TEST(IndexStore, LateHeadersReadOnlyBankStartsAndHeaders)
{
    QTemporaryDir tmp;
    const QString d = tmp.path();
    writeFile(d + "/index.dat", indexFile(0, 1, LateBank));
    writeFile(d + "/00.dat", banks({makeBank(1, 1, 0, '2'), makeBank(2, 2, 0, '9')}, LateBank));
    Reader reader;
    ASSERT_EQ(reader.openIndexFile(d), 0);
    resetReadStatistics();
    EXPECT_EQ(reader.loadBanks(d), 2);
    EXPECT_EQ(readStatistics().calls, 4u);
    EXPECT_EQ(readStatistics().bytes, 4u * 203);
}

TEST(IndexStore, DataFilesFollowTheAreaSizeAndKeepDatOnceTaken)
{
    const qint64 first = 209715200, each = 2147483648;
    struct Case {
        const char *what;
        qint64 area;
        QStringList files;
        int result;
    } cases[] = {
        {"area 0 needs file 00", 0, {"00.ibx"}, 1},
        {"area 0 without files", 0, {}, -1},
        {"two files, the second dat", first + each, {"00.ibx", "01.dat"}, 2},
        {"dat stays taken", first + 2 * each, {"00.ibx", "01.dat", "02.ibx"}, -1},
        {"three", first + 2 * each, {"00.ibx", "01.dat", "02.dat"}, 3},
        {"asks for files that do not exist", first + 5 * each, {"00.ibx"}, -1},
        {"negative: empty catalogue", -1937768448 - each, {}, 0},
        {"huge area stops at the first missing", std::numeric_limits<qint64>::max(), {"00.ibx"}, -1},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        QTemporaryDir tmp;
        writeFile(tmp.path() + "/index.ibx", indexFile(c.area, 2, SmallBank));
        for (const QString &f : c.files)
            writeFile(tmp.path() + "/" + f, bank(makeBank(1, 1), SmallBank));
        Reader reader;
        ASSERT_EQ(reader.openIndexFile(tmp.path()), 0);
        EXPECT_EQ(reader.loadBanks(tmp.path()), c.result);
    }
}

TEST(IndexStore, BadHeadsAndDataFiles)
{
    struct Case {
        const char *what;
        QByteArray index;
        QByteArray data;
        int open, load, channels;
    } cases[] = {
        {"index shorter than 93 bytes", indexFile(0, 2, SmallBank).left(92), QByteArray(), -1, -1, 0},
        {"no settings block: no password", indexFile(0, 2, SmallBank, "1234", 600), bank(makeBank(1, 1), SmallBank), 0, 1, 2},
        {"bank size below a header", indexFile(0, 2, 33994), bank(makeBank(1, 1), SmallBank), 0, -1, 2},
        {"data file shorter than a bank", indexFile(0, 2, SmallBank), QByteArray(1000, 'x'), 0, 0, 2},
        {"header placed before the bank", indexFile(0, 2, SmallBank), bank(makeBank(1, 1, 0, '3'), SmallBank), 0, 0, 2},
        {"channel count 0 clamped", indexFile(0, 0, SmallBank), bank(makeBank(1, 1), SmallBank), 0, 1, 1},
        {"channel count 200 clamped", indexFile(0, 200, SmallBank), bank(makeBank(1, 1), SmallBank), 0, 1, 8},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        QTemporaryDir tmp;
        writeFile(tmp.path() + "/index.ibx", c.index);
        writeFile(tmp.path() + "/00.ibx", c.data);
        Reader reader;
        EXPECT_EQ(reader.openIndexFile(tmp.path()), c.open);
        EXPECT_EQ(reader.loadBanks(tmp.path()), c.load);
        EXPECT_EQ(reader.headChannelCount(), c.channels);
    }
}

TEST(IndexStore, CardPasswordAskedOncePerCard)
{
    QTemporaryDir tmp;
    const QString a = tmp.path() + "/a", b = tmp.path() + "/b";
    for (const QString &d : {a, b}) {
        QDir().mkpath(d);
        writeFile(d + "/index.ibx", indexFile(0, 2, SmallBank, "1234"));
        writeFile(d + "/00.ibx", bank(makeBank(1, 1), SmallBank));
    }
    QByteArray typed;
    int calls = 0;
    Reader reader;
    reader.setPasswordPrompt([&](PasswordKind kind, const QByteArray &expected, int length) {
        ++calls;
        EXPECT_EQ(kind, PasswordKind::Card);
        EXPECT_EQ(length, 8);
        return passwordMatches(kind, typed, expected, length);
    });
    typed = "123";
    EXPECT_EQ(reader.openIndexFile(a), -1);
    EXPECT_TRUE(reader.passwordRefused());
    EXPECT_EQ(reader.loadBanks(a), -1);   // a refused card is not open
    typed = "1234";
    EXPECT_EQ(reader.openIndexFile(a), 0);
    EXPECT_EQ(reader.openIndexFile(a), 0);
    EXPECT_EQ(calls, 2);
    EXPECT_EQ(reader.openIndexFile(b), 0);   // another card asks again
    EXPECT_EQ(calls, 3);

    Reader noPrompt;
    EXPECT_EQ(noPrompt.openIndexFile(a), -1);
}

TEST(IndexStore, SetupBlockGoesOnlyToTheOpenIndexCard)
{
    QTemporaryDir tmp;
    const QString card = tmp.path() + "/card", other = tmp.path() + "/other";
    QDir().mkpath(card);
    QDir().mkpath(other + "/record");
    writeFile(card + "/index.ibx", indexFile(0, 2, SmallBank));
    writeFile(other + "/index.dat", indexFile(0, 2, SmallBank, QByteArray(), 600));
    recording(other + "/record", "REC_0000001_20230314-054525_NDNN.mp4",
              trailer("REC_0000001_20230314-054525_NDNN.mp4", 1, 60));
    const QByteArray block(Reader::SetupBlockSize, 'S');

    Reader reader;
    EXPECT_EQ(reader.writeSetupBlock(block), -1);   // nothing open
    ASSERT_EQ(reader.openIndexFile(card), 0);
    EXPECT_EQ(reader.writeSetupBlock(block.left(430)), -1);
    EXPECT_EQ(reader.writeSetupBlock(block), 0);
    QFile f(card + "/index.ibx");
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.size(), 512431);
    f.seek(512000);
    EXPECT_EQ(f.read(431), block);

    ASSERT_EQ(reader.scanCard(other), 1);            // the index card is closed now
    EXPECT_EQ(reader.writeSetupBlock(block), -1);
    ASSERT_EQ(reader.openIndexFile(other), 0);       // too short to hold a block
    EXPECT_EQ(reader.writeSetupBlock(block), -1);
    EXPECT_EQ(QFileInfo(other + "/index.dat").size(), 600);
}
