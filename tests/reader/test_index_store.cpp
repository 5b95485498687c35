// Index cards through the Reader: the head, data files, bank headers, the
// card password and the setup-block write.
#include "CardFiles.h"
#include "FileAccess.h"
#include "Reader.h"

#include <QTemporaryDir>

using namespace cardfiles;

namespace {
constexpr quint32 SmallBank = 40000; // header at 16384
constexpr quint32 LateBank = 210000; // room for the header at bank size - 204800
} // namespace

TEST(IndexStore, LoadsBanksSortedWithSizesAndModel)
{
    QTemporaryDir tmp;
    Bank dataPastBank{9, 9}, invalid{8, 8};
    dataPastBank.dataEnd = SmallBank + 1;
    invalid.valid = false;
    const Bank late{7, 7, 0, '5'}; // 16384 is not where its header is
    const QString d = indexCard(tmp.path(), indexFile(0, 2, SmallBank),
                                banks({{1, 30, 1}, {2, 10}, dataPastBank, invalid, late, {3, 20}}, SmallBank) + QByteArray(100, 'x'));
    Reader reader;
    ASSERT_EQ(reader.openIndexFile(d), 0);
    ASSERT_EQ(reader.loadBanks(d), 3);
    QVector<qint64> got;
    for (const BankEntry &b : reader.banks())
        got << b.bankSeq << b.status << b.offset << b.start << b.end << b.bankSize;
    const qint64 s = SmallBank;
    EXPECT_EQ(got, (QVector<qint64>{2, 0, s, 1700000200, 1700000260, s, 3, 0, 5 * s, 1700000300, 1700000360, s,
                                    1, 1, 0, 1700000100, 1700000160, s}));
    // Sizes and model against the generated cards: CatalogCli.
    EXPECT_EQ(reader.headChannelCount(), 2);
}

TEST(IndexStore, LateHeadersReadOnlyBankStartsAndHeaders)
{
    QTemporaryDir tmp;
    const QString d = indexCard(tmp.path(), indexFile(0, 1, LateBank), banks({{1, 1, 0, '2'}, {2, 2, 0, '9'}}, LateBank), "dat");
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
    const struct { const char *what; qint64 area; QStringList files; int result; } cases[] = {
        {"area 0 needs file 00", 0, {"00.ibx"}, 1},
        {"area 0 without files", 0, {}, -1},
        {"two files, the second dat", first + each, {"00.ibx", "01.dat"}, 2},
        {"dat stays taken", first + 2 * each, {"00.ibx", "01.dat", "02.ibx"}, -1},
        {"three", first + 2 * each, {"00.ibx", "01.dat", "02.dat"}, 3},
        {"asks for files that do not exist", first + 5 * each, {"00.ibx"}, -1},
        {"negative: empty catalogue", -1937768448 - each, {}, 0},
        {"huge area stops at the first missing", std::numeric_limits<qint64>::max(), {"00.ibx"}, -1},
        // The subtraction would overflow (UBSan in the sanitizer build).
        {"near the 64-bit minimum: refused", std::numeric_limits<qint64>::min() + 5, {"00.ibx"}, -1},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        QTemporaryDir tmp;
        writeFile(tmp.path() + "/index.ibx", indexFile(c.area, 2, SmallBank));
        for (const QString &f : c.files)
            writeFile(tmp.path() + "/" + f, bank({}, SmallBank));
        Reader reader;
        ASSERT_EQ(reader.openIndexFile(tmp.path()), 0);
        EXPECT_EQ(reader.loadBanks(tmp.path()), c.result);
    }
}

TEST(IndexStore, BadHeadsAndDataFiles)
{
    const QByteArray sound = bank({}, SmallBank);
    const struct { const char *what; QByteArray index, data; int open, load, channels; } cases[] = {
        {"index shorter than 93 bytes", indexFile(0, 2, SmallBank).left(92), {}, -1, -1, 0},
        {"no settings block: no password", indexFile(0, 2, SmallBank, "1234", 600), sound, 0, 1, 2},
        {"bank size below a header", indexFile(0, 2, 33994), sound, 0, -1, 2},
        {"data file shorter than a bank", indexFile(0, 2, SmallBank), QByteArray(1000, 'x'), 0, 0, 2},
        {"header placed before the bank", indexFile(0, 2, SmallBank), bank({1, 1, 0, '3'}, SmallBank), 0, 0, 2},
        {"channel count 0 clamped", indexFile(0, 0, SmallBank), sound, 0, 1, 1},
        {"channel count 200 clamped", indexFile(0, 200, SmallBank), sound, 0, 1, 8},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        QTemporaryDir tmp;
        Reader reader;
        EXPECT_EQ(reader.openIndexFile(indexCard(tmp.path(), c.index, c.data)), c.open);
        EXPECT_EQ(reader.loadBanks(tmp.path()), c.load);
        EXPECT_EQ(reader.headChannelCount(), c.channels);
    }
}

TEST(IndexStore, CardPasswordAskedOncePerCard)
{
    QTemporaryDir tmp;
    const QString a = indexCard(tmp.path() + "/a", indexFile(0, 2, SmallBank, "1234"), bank({}, SmallBank));
    const QString b = indexCard(tmp.path() + "/b", indexFile(0, 2, SmallBank, "1234"), bank({}, SmallBank));
    ScriptedPrompt user{"123"};
    Reader reader;
    reader.setPasswordPrompt(user.prompt(PasswordKind::Card, 8));
    EXPECT_EQ(reader.openIndexFile(a), -1);
    EXPECT_TRUE(reader.passwordRefused());
    EXPECT_EQ(reader.loadBanks(a), -1); // a refused card is not open
    user.typed = "1234";
    EXPECT_EQ(QVector<int>({reader.openIndexFile(a), reader.openIndexFile(a), user.calls}), QVector<int>({0, 0, 2}));
    EXPECT_EQ(QVector<int>({reader.openIndexFile(b), user.calls}), QVector<int>({0, 3})); // another card asks again
    EXPECT_EQ(Reader().openIndexFile(a), -1); // no prompt: refused
}

TEST(IndexStore, SetupBlockGoesOnlyToTheOpenIndexCard)
{
    QTemporaryDir tmp;
    const QString card = indexCard(tmp.path() + "/card", indexFile(0, 2, SmallBank), {});
    const QString other = tmp.path() + "/other", name = "REC_0000001_20230314-054525_NDNN.mp4";
    QDir().mkpath(other + "/record");
    writeFile(other + "/index.dat", indexFile(0, 2, SmallBank, QByteArray(), 600));
    recording(other + "/record", name, trailer(name.toUtf8(), 1, 60));
    const QByteArray block(Reader::SetupBlockSize, 'S');

    Reader reader;
    EXPECT_EQ(reader.writeSetupBlock(block), -1); // nothing open
    ASSERT_EQ(reader.openIndexFile(card), 0);
    EXPECT_EQ(reader.writeSetupBlock(block.left(430)), -1);
    EXPECT_EQ(reader.writeSetupBlock(block), 0);
    EXPECT_EQ(readFile(card + "/index.ibx", 512000), block); // and the size is unchanged

    ASSERT_EQ(reader.scanCard(other), 1); // the index card is closed now
    EXPECT_EQ(reader.writeSetupBlock(block), -1);
    ASSERT_EQ(reader.openIndexFile(other), 0); // too short to hold a block
    EXPECT_EQ(reader.writeSetupBlock(block), -1);
    EXPECT_EQ(QFileInfo(other + "/index.dat").size(), 600);
}
