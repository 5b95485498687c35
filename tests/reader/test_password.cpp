// The password comparison rules and the MF2 unscrambling.
#include "Mf2Password.h"
#include "PasswordCheck.h"

#include <gtest/gtest.h>

TEST(PasswordCheck, CardRuleLowersEveryCharacterByTwenty)
{
    const struct { QByteArray typed, plain; bool match; } cases[] = {
        {"abc", "abc", true},
        {"abcd", "abc", false}, // one character too many
        {"ab", "abc", false},
        {"", "abc", false},
        {"abd", "abc", false},
        {"12345678", "12345678", true},
        {"12345678x", "12345678", true},       // only eight positions count
        {QByteArray("ab\x14", 3), "ab", true}, // a character lowered to 0 reads as the end
        {"", "", true},
    };
    for (const auto &c : cases) {
        QByteArray stored(8, '\0'); // what the setup block holds for the plain text
        for (int i = 0; i < c.plain.size(); ++i)
            stored[i] = char(quint8(c.plain[i]) - 20);
        EXPECT_EQ(passwordMatches(PasswordKind::Card, c.typed, stored, 8), c.match) << c.typed.constData() << " vs " << c.plain.constData();
    }
    EXPECT_FALSE(passwordMatches(PasswordKind::Card, "abc", "abc", 8)); // the stored bytes are not the plain text
}

TEST(PasswordCheck, Mf2AndArchiveComparePlainZeroPaddedBytes)
{
    const struct { PasswordKind kind; QByteArray typed, stored; int length; bool match; } cases[] = {
        {PasswordKind::Mf2, "abcd", "abcd", 8, true},
        {PasswordKind::Mf2, "abc", "abcd", 8, false},
        {PasswordKind::Mf2, "abcdefghXYZ", "abcdefgh", 8, true},
        {PasswordKind::Archive, "secret12", QByteArray("secret12\0\0\0\0", 12), 10, true},
        {PasswordKind::Archive, "secret1234", "secret1234ab", 10, true},
        {PasswordKind::Archive, "secret123", "secret1234", 10, false},
        {PasswordKind::Archive, "", "x", 10, false},
    };
    for (const auto &c : cases)
        EXPECT_EQ(passwordMatches(c.kind, c.typed, c.stored, c.length), c.match) << c.typed.constData();
}

TEST(PasswordCheck, CardPasswordInForceNeedsMarkerAndFirstCharacter)
{
    QByteArray block(431, '\0');
    EXPECT_FALSE(cardPasswordInForce(block));
    block.replace(18, 2, "pw");
    EXPECT_FALSE(cardPasswordInForce(block));
    block[20] = 'x';
    EXPECT_TRUE(cardPasswordInForce(block));
    EXPECT_FALSE(cardPasswordInForce(block.left(20)));
}

TEST(Mf2Password, UnscramblesWithTheKeyLowByteFirstUpToTheFirstZero)
{
    // 'a'^11 'b'^22 'c'^33 't'^44, then zero.
    EXPECT_EQ(unscrambleMf2Password(QByteArray("\x70\x40\x50\x30\x11\x00\x00\x00", 8), 0x44332211), QByteArray("abct"));
    EXPECT_EQ(unscrambleMf2Password(QByteArray(32, '\x11'), 0x11111111).size(), 0);
}
