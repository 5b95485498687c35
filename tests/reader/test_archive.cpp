// Smart Backup archives: the head is checked before anything changes.
#include "ArchiveHead.h"
#include "CardFiles.h"
#include "Reader.h"

#include <QBuffer>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace cardfiles;

namespace {
constexpr quint32 BankSize = 205100;

QVector<Bank> threeBanks()
{
    QVector<Bank> list;
    for (quint16 seq : {7, 5, 6}) {
        Bank b;
        b.seq = seq;
        b.sortKey = seq;
        b.codes = QByteArray("\x10\x0c\x63", 3);
        list.append(b);
    }
    return list;
}
} // namespace

TEST(Archive, OpensBanksAfterTheTable)
{
    QTemporaryDir tmp;
    const QString path = tmp.path() + "/backup0.smb";
    writeFile(path, archive(threeBanks(), BankSize, 3));
    Reader reader;
    ASSERT_EQ(reader.openIndexFormatFile(path), 3);
    const QVector<BankEntry> list = reader.banks();
    EXPECT_EQ(list[0].bankSeq, 5);
    EXPECT_EQ(list[0].offset, 772 + qint64(BankSize));   // first bank at 556 + 3 x 72
    EXPECT_EQ(list[2].offset, 772);
    EXPECT_EQ(list[0].path, QDir(tmp.path()).absolutePath() + "/backup0.smb");
    EXPECT_EQ(reader.headChannelCount(), 3);
    EXPECT_EQ(reader.bankSize(), BankSize);
    // Code 16 is 2688 x 1520 in an archive; unknown codes stay 0 x 0.
    EXPECT_EQ(reader.widths().mid(0, 4), (QVector<int>{2688, 1920, 0, 0}));
    EXPECT_EQ(reader.source().kind, SourceKind::Archive);
}

TEST(Archive, BadHeadsAreRefusedWithoutChangingTheCatalogue)
{
    const QByteArray good = archive(threeBanks(), BankSize, 2);
    auto patched = [&](int at, quint32 value) {
        QByteArray a = good;
        put32(a, at, value);
        return a;
    };
    const struct {
        const char *what;
        QByteArray bytes;
    } cases[] = {
        {"not an archive", QByteArray(4096, 'x')},
        {"second magic wrong", patched(4, 0x2223)},
        {"head cut short", good.left(500)},
        {"one bank more than the file holds", patched(544, 4)},
        {"bank count that overflows", patched(544, 0xffffffffu)},
        {"bank size too small for a header", patched(552, 204800)},
        {"bank size zero", patched(552, 0)},
        {"last bank cut short", good.left(good.size() - 1)},
    };
    QTemporaryDir tmp;
    const QString keep = tmp.path() + "/keep.smb";
    writeFile(keep, good);
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        const QString path = tmp.path() + "/bad.smb";
        writeFile(path, c.bytes);
        QBuffer buffer(const_cast<QByteArray *>(&c.bytes));
        buffer.open(QIODevice::ReadOnly);
        ArchiveHead head;
        EXPECT_EQ(head.read(buffer, c.bytes.size()), -1);
        Reader reader;
        ASSERT_EQ(reader.openIndexFormatFile(keep), 3);
        EXPECT_EQ(reader.openIndexFormatFile(path), -1);
        EXPECT_EQ(reader.banks().size(), 3);
        EXPECT_EQ(reader.source().root, QDir(tmp.path()).absolutePath() + "/keep.smb");
    }
    // Channel counts out of range are clamped.
    for (quint32 channels : {0u, 9u, 0xffffffffu}) {
        QByteArray a = patched(540, channels);
        QBuffer buffer(&a);
        buffer.open(QIODevice::ReadOnly);
        ArchiveHead head;
        ASSERT_EQ(head.read(buffer, a.size()), 0);
        EXPECT_EQ(head.channels, channels == 0 ? 1 : 8);
    }
}

TEST(Archive, PasswordComparedAsStoredOverTenBytes)
{
    QTemporaryDir tmp;
    const QString path = tmp.path() + "/locked.smb";
    writeFile(path, archive(threeBanks(), BankSize, 2, "secret12"));
    QByteArray typed;
    int calls = 0;
    Reader reader;
    reader.setPasswordPrompt([&](PasswordKind kind, const QByteArray &expected, int length) {
        ++calls;
        EXPECT_EQ(kind, PasswordKind::Archive);
        EXPECT_EQ(length, 10);
        return passwordMatches(kind, typed, expected, length);
    });
    for (const char *wrong : {"", "secret1", "secret123", "SECRET12"}) {
        typed = wrong;
        EXPECT_EQ(reader.openIndexFormatFile(path), -1) << wrong;
        EXPECT_TRUE(reader.passwordRefused());
    }
    typed = "secret12";
    EXPECT_EQ(reader.openIndexFormatFile(path), 3);
    EXPECT_EQ(reader.openIndexFormatFile(path), 3);
    EXPECT_EQ(calls, 5);
}
