// The lossless file-name codec: any byte string survives decode and encode,
// valid UTF-8 decodes as UTF-8 does, and text split across chunks (as a
// stream reads it) decodes as the whole does.
#include "FileNameCodec.h"

#include <QRandomGenerator>
#include <QTextCodec>
#include <gtest/gtest.h>

TEST(FileNameCodec, EveryByteStringRoundTripsAndValidTextIsUnchanged)
{
    QTextCodec *codec = losslessUtf8Codec();
    const QByteArray fixed[] = {
        "plain", "caf\xc3\xa9", "\xf0\x9f\x9a\x97 car", "bad\xff\xfe", "\xc3", "\xe2\x82", "\xc0\xaf" /* overlong */,
        "\xed\xa0\x80" /* encoded surrogate */, "\xf4\x90\x80\x80" /* past U+10FFFF */, QByteArray("a\0b", 3)};
    for (const QByteArray &b : fixed) {
        EXPECT_EQ(codec->fromUnicode(codec->toUnicode(b)), b) << b.toHex().constData();
        if (QString::fromUtf8(b).toUtf8() == b) {
            EXPECT_EQ(codec->toUnicode(b), QString::fromUtf8(b)) << b.toHex().constData();
        }
    }
    QRandomGenerator random(7);
    for (int round = 0; round < 2000; ++round) {
        QByteArray b(int(random.bounded(1, 24)), '\0');
        for (char &c : b)
            c = char(random.bounded(256));
        const QString text = codec->toUnicode(b);
        ASSERT_EQ(codec->fromUnicode(text), b) << b.toHex().constData();

        // Split at every point, carrying the converter state between chunks.
        for (int cut = 1; cut < b.size(); ++cut) {
            QTextCodec::ConverterState state;
            QString joined = codec->toUnicode(b.constData(), cut, &state);
            joined += codec->toUnicode(b.constData() + cut, b.size() - cut, &state);
            // An unfinished sequence at the very end waits for more input;
            // with none coming it stands for its bytes.
            QByteArray rest;
            for (int i = 0; i < state.remainingChars; ++i)
                rest.append(char(state.state_data[i]));
            joined += codec->toUnicode(rest);
            ASSERT_EQ(joined, text) << b.toHex().constData() << " cut " << cut;
        }
    }
}
