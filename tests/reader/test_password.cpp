// The password comparison rules and the MF2 unscrambling.
#include "Mf2Password.h"
#include "PasswordCheck.h"

#include <gtest/gtest.h>

namespace {
// What a card's setup block holds for the plain text: each character lowered by 20.
QByteArray lowered(const QByteArray &plain)
{
    QByteArray stored(8, '\0');
    for (int i = 0; i < plain.size(); ++i)
        stored[i] = char(quint8(plain[i]) - 20);
    return stored;
}
} // namespace

TEST(PasswordCheck, CardLowersByTwentyMf2AndArchiveComparePlainZeroPaddedBytes)
{
    using K = PasswordKind;
    const struct { K kind; QByteArray typed, stored; int length; bool match; } cases[] = {
        {K::Card, "abc", lowered("abc"), 8, true},        {K::Card, "abcd", lowered("abc"), 8, false},
        {K::Card, "ab", lowered("abc"), 8, false},        {K::Card, "", lowered("abc"), 8, false},
        {K::Card, "abd", lowered("abc"), 8, false},       {K::Card, "12345678x", lowered("12345678"), 8, true},
        {K::Card, QByteArray("ab\x14", 3), lowered("ab"), 8, true}, // lowered to 0 reads as the end
        {K::Card, "", lowered(""), 8, true},              {K::Card, "abc", "abc", 8, false}, // stored is not plain
        {K::Mf2, "abcd", "abcd", 8, true},                {K::Mf2, "abc", "abcd", 8, false},
        {K::Mf2, "abcdefghXYZ", "abcdefgh", 8, true},     {K::Archive, "secret12", QByteArray("secret12\0\0\0\0", 12), 10, true},
        {K::Archive, "secret1234", "secret1234ab", 10, true}, {K::Archive, "secret123", "secret1234", 10, false},
        {K::Archive, "", "x", 10, false},
    };
    for (const auto &c : cases)
        EXPECT_EQ(passwordMatches(c.kind, c.typed, c.stored, c.length), c.match) << int(c.kind) << " " << c.typed.constData();
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
