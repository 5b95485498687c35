#include "FileNameCodec.h"

#include <QTextCodec>

namespace {

// Length of the valid UTF-8 sequence starting at s (at most n bytes
// available): 1..4, 0 when the bytes are not a valid sequence, -1 when they
// are a valid but unfinished prefix.
int sequenceLength(const uchar *s, int n, uint *codePoint)
{
    const uchar lead = s[0];
    if (lead < 0x80) {
        *codePoint = lead;
        return 1;
    }
    int length = 0;
    uint cp = 0;
    uint minimum = 0;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
        cp = lead & 0x1F;
        minimum = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
        cp = lead & 0x0F;
        minimum = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
        cp = lead & 0x07;
        minimum = 0x10000;
    } else {
        return 0;
    }
    for (int i = 1; i < length; ++i) {
        if (i >= n)
            return -1;
        if ((s[i] & 0xC0) != 0x80)
            return 0;
        cp = (cp << 6) | (s[i] & 0x3F);
    }
    // Overlong forms, surrogates and values past U+10FFFF are not valid.
    if (cp < minimum || (cp >= 0xD800 && cp <= 0xDFFF) || cp > 0x10FFFF)
        return 0;
    *codePoint = cp;
    return length;
}

class LosslessUtf8Codec : public QTextCodec
{
public:
    QByteArray name() const override { return QByteArrayLiteral("UTF-8 (lossless file names)"); }
    int mibEnum() const override { return -4106; }

protected:
    QString convertToUnicode(const char *in, int length, ConverterState *state) const override
    {
        // An unfinished sequence at the end of the previous chunk waits in
        // the state's data, as QTextStream reads in chunks.
        QByteArray bytes;
        if (state && state->remainingChars > 0) {
            for (int i = 0; i < state->remainingChars; ++i)
                bytes.append(char(state->state_data[i]));
            state->remainingChars = 0;
        }
        bytes.append(in, length);
        const uchar *s = reinterpret_cast<const uchar *>(bytes.constData());
        const int n = bytes.size();
        QString out;
        out.reserve(n);
        int i = 0;
        while (i < n) {
            uint cp = 0;
            const int len = sequenceLength(s + i, n - i, &cp);
            if (len == -1 && state) {
                state->remainingChars = n - i;
                for (int k = 0; k < n - i; ++k)
                    state->state_data[k] = s[i + k];
                break;
            }
            if (len <= 0) {
                out.append(QChar(ushort(0xDC00 + s[i])));
                ++i;
                continue;
            }
            if (cp >= 0x10000) {
                out.append(QChar(QChar::highSurrogate(cp)));
                out.append(QChar(QChar::lowSurrogate(cp)));
            } else {
                out.append(QChar(ushort(cp)));
            }
            i += len;
        }
        return out;
    }

    QByteArray convertFromUnicode(const QChar *in, int length, ConverterState *state) const override
    {
        QByteArray out;
        out.reserve(length * 3);
        int i = 0;
        // A high surrogate left at the end of the previous chunk.
        if (state && state->remainingChars == 1 && length > 0 && in[0].isLowSurrogate()) {
            const uint cp = QChar::surrogateToUcs4(ushort(state->state_data[0]), in[0].unicode());
            appendUtf8(out, cp);
            state->remainingChars = 0;
            i = 1;
        }
        for (; i < length; ++i) {
            const ushort u = in[i].unicode();
            if (QChar::isHighSurrogate(u)) {
                if (i + 1 < length && in[i + 1].isLowSurrogate()) {
                    appendUtf8(out, QChar::surrogateToUcs4(u, in[i + 1].unicode()));
                    ++i;
                } else if (i + 1 == length && state) {
                    state->remainingChars = 1;
                    state->state_data[0] = u;
                } else {
                    out.append('?');
                }
            } else if (u >= 0xDC80 && u <= 0xDCFF) {
                out.append(char(u - 0xDC00));
            } else if (QChar::isLowSurrogate(u)) {
                out.append('?');
            } else {
                appendUtf8(out, u);
            }
        }
        return out;
    }

private:
    static void appendUtf8(QByteArray &out, uint cp)
    {
        if (cp < 0x80) {
            out.append(char(cp));
        } else if (cp < 0x800) {
            out.append(char(0xC0 | (cp >> 6)));
            out.append(char(0x80 | (cp & 0x3F)));
        } else if (cp < 0x10000) {
            out.append(char(0xE0 | (cp >> 12)));
            out.append(char(0x80 | ((cp >> 6) & 0x3F)));
            out.append(char(0x80 | (cp & 0x3F)));
        } else {
            out.append(char(0xF0 | (cp >> 18)));
            out.append(char(0x80 | ((cp >> 12) & 0x3F)));
            out.append(char(0x80 | ((cp >> 6) & 0x3F)));
            out.append(char(0x80 | (cp & 0x3F)));
        }
    }
};

} // namespace

QTextCodec *losslessUtf8Codec()
{
    // QTextCodec registers itself on construction and Qt deletes it at exit.
    static QTextCodec *codec = new LosslessUtf8Codec;
    return codec;
}

void installLosslessFileNames()
{
    QTextCodec::setCodecForLocale(losslessUtf8Codec());
}
