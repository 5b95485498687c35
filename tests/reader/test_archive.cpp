// Smart Backup archives: the head is checked before anything changes.
#include "CardFiles.h"
#include "Reader.h"

#include <QTemporaryDir>

using namespace cardfiles;

namespace {
constexpr quint32 BankSize = 205100;

QByteArray threeBanks(quint8 channels, const QByteArray &password = {})
{
    QVector<Bank> list;
    for (quint16 seq : {7, 5, 6}) {
        list.append({seq, seq});
        list.last().codes = QByteArray("\x10\x0c\x63", 3);
    }
    return archive(list, BankSize, channels, password);
}
} // namespace

TEST(Archive, OpensBanksAfterTheTable)
{
    QTemporaryDir tmp;
    const QString path = tmp.path() + "/backup0.smb";
    writeFile(path, threeBanks(3));
    Reader reader;
    ASSERT_EQ(reader.openIndexFormatFile(path), 3);
    const QVector<BankEntry> list = reader.banks(); // first bank at 556 + 3 x 72
    EXPECT_EQ(QVector<qint64>({list[0].bankSeq, list[0].offset, list[2].offset, reader.headChannelCount(), reader.bankSize()}),
              QVector<qint64>({5, 772 + BankSize, 772, 3, BankSize}));
    EXPECT_EQ(list[0].path, QDir(tmp.path()).absolutePath() + "/backup0.smb");
    // Code 16 is 2688 x 1520 in an archive; unknown codes stay 0 x 0.
    EXPECT_EQ(reader.widths().mid(0, 4), (QVector<int>{2688, 1920, 0, 0}));
    EXPECT_TRUE(reader.source().kind == SourceKind::Archive);
}

TEST(Archive, BadHeadsAreRefusedWithoutChangingTheCatalogue)
{
    const QByteArray good = threeBanks(2);
    auto patched = [&](int at, quint32 value) {
        QByteArray a = good;
        put(a, at, value);
        return a;
    };
    const struct { const char *what; QByteArray bytes; int banks, channels; } cases[] = {
        {"not an archive", QByteArray(4096, 'x'), -1, 0},
        {"second magic wrong", patched(4, 0x2223), -1, 0},
        {"head cut short", good.left(500), -1, 0},
        {"one bank more than the file holds", patched(544, 4), -1, 0},
        {"bank count that overflows", patched(544, 0xffffffffu), -1, 0},
        {"bank size too small for a header", patched(552, 204800), -1, 0},
        {"bank size zero", patched(552, 0), -1, 0},
        {"last bank cut short", good.left(good.size() - 1), -1, 0},
        {"no channels: one", patched(540, 0), 3, 1},
        {"nine channels: eight", patched(540, 9), 3, 8},
        {"huge channel count: eight", patched(540, 0xffffffffu), 3, 8},
    };
    QTemporaryDir tmp;
    const QString keep = tmp.path() + "/keep.smb", path = tmp.path() + "/bad.smb";
    writeFile(keep, good);
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        writeFile(path, c.bytes);
        Reader reader;
        ASSERT_EQ(reader.openIndexFormatFile(keep), 3);
        EXPECT_EQ(reader.openIndexFormatFile(path), c.banks);
        EXPECT_EQ(reader.banks().size(), 3);
        EXPECT_EQ(reader.source().root, c.banks < 0 ? keep : path);
        EXPECT_EQ(reader.headChannelCount(), c.banks < 0 ? 2 : c.channels);
    }
}

TEST(Archive, PasswordComparedAsStoredOverTenBytes)
{
    QTemporaryDir tmp;
    const QString path = tmp.path() + "/locked.smb";
    writeFile(path, threeBanks(2, "secret12"));
    ScriptedPrompt user;
    Reader reader;
    reader.setPasswordPrompt(user.prompt(PasswordKind::Archive, 10));
    for (const char *wrong : {"", "secret1", "secret123", "SECRET12"}) {
        user.typed = wrong;
        EXPECT_EQ(reader.openIndexFormatFile(path), -1) << wrong;
        EXPECT_TRUE(reader.passwordRefused());
    }
    user.typed = "secret12";
    EXPECT_EQ(reader.openIndexFormatFile(path), 3);
    EXPECT_EQ(reader.openIndexFormatFile(path), 3);
    EXPECT_EQ(user.calls, 5);
}
