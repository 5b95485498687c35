#include "GprmcParser.h"

#include <QList>

#include <cmath>
#include <cstring>
#include <limits>

namespace {

bool isDigit(char c) { return c >= '0' && c <= '9'; }

bool allDigits(const QByteArray &text, int from, int to)
{
    for (int i = from; i < to; ++i)
        if (!isDigit(text[i]))
            return false;
    return true;
}

// hhmmss[.s{0,6}]
bool validTime(const QByteArray &field)
{
    if (field.size() < 6 || !allDigits(field, 0, 6))
        return false;
    if (field.size() == 6)
        return true;
    return field[6] == '.' && field.size() <= 13 && allDigits(field, 7, field.size());
}

// Degrees and minutes, d..dmm[.m..]: degrees = I / 100, minutes = I mod 100 + 0.F.
bool parseDegreesMinutes(const QByteArray &field, int maxDegrees, double &out)
{
    const int dot = field.indexOf('.');
    const int intEnd = dot < 0 ? field.size() : dot;
    if (intEnd == 0 || intEnd > 5 || !allDigits(field, 0, intEnd))
        return false;
    if (dot >= 0 && !allDigits(field, dot + 1, field.size()))
        return false;
    const int whole = field.left(intEnd).toInt();
    const int degrees = whole / 100;
    const int minutes = whole % 100;
    if (minutes >= 60)
        return false;
    double fraction = 0.0;
    if (dot >= 0 && dot + 1 < field.size())
        fraction = QByteArray("0." + field.mid(dot + 1)).toDouble();
    out = degrees + minutes / 60.0 + fraction / 60.0;
    return out <= maxDegrees;
}

// [-]digits[.digits], at least one digit.
bool parseDecimal(const QByteArray &field, double &out)
{
    int i = field.startsWith('-') ? 1 : 0;
    int digits = 0;
    bool dot = false;
    for (; i < field.size(); ++i) {
        if (isDigit(field[i]))
            ++digits;
        else if (field[i] == '.' && !dot)
            dot = true;
        else
            return false;
    }
    if (digits == 0)
        return false;
    bool ok = false;
    out = field.toDouble(&ok);
    return ok && std::isfinite(out);
}

} // namespace

GpsSample GprmcParser::feed(const char *bytes, qint64 count)
{
    if (bytes && count > 0)
        append(bytes, count);

    GpsSample sample;
    int pos = 0;
    while (pos < buffer.size() && buffer[pos] == '\n')
        ++pos;
    while (pos < buffer.size()) {
        const int end = buffer.indexOf('\n', pos);
        if (end < 0)
            break;
        QByteArray line = buffer.mid(pos, end - pos);
        pos = end + 1;
        if (line.endsWith('\r'))
            line.chop(1);
        if (parseSentence(line, sample) && sample.status == 'A')
            break;
    }
    buffer.remove(0, pos);
    return sample;
}

void GprmcParser::append(const char *bytes, qint64 count)
{
    if (skippingLongLine) {
        const char *lf = static_cast<const char *>(std::memchr(bytes, '\n', size_t(count)));
        if (!lf)
            return;
        count -= lf + 1 - bytes;
        bytes = lf + 1;
        skippingLongLine = false;
    }
    // Keep at most the newest Capacity - 1 bytes, cut at a line start.
    const qint64 total = buffer.size() + count;
    if (total < Capacity) {
        buffer.append(bytes, int(count));
        return;
    }
    const qint64 excess = total - (Capacity - 1);
    // Work on the newest Capacity bytes only, so a huge piece costs no more.
    QByteArray text;
    qint64 cut;
    if (excess < buffer.size()) {
        text = buffer;
        text.append(bytes, int(count));
        cut = excess;
    } else {
        const qint64 skip = excess - buffer.size();
        const bool atLineStart = skip == 0 ? (buffer.isEmpty() || buffer.endsWith('\n')) : bytes[skip - 1] == '\n';
        text = QByteArray(bytes + skip, int(count - skip));
        cut = atLineStart ? 0 : -1;
    }
    if (cut != 0 && (cut < 0 || text[int(cut - 1)] != '\n')) {
        const int lf = text.indexOf('\n', cut < 0 ? 0 : int(cut));
        if (lf < 0) {
            buffer.clear();
            skippingLongLine = true;
            return;
        }
        cut = lf + 1;
    }
    buffer = text.mid(int(cut));
}

bool GprmcParser::parseSentence(const QByteArray &line, GpsSample &sample)
{
    if (!line.startsWith("$GPRMC"))
        return false;
    const QList<QByteArray> fields = line.split(',');
    auto field = [&fields](int i) { return i < fields.size() ? fields[i] : QByteArray(); };

    GpsSample next = sample;
    const QByteArray time = field(1);
    if (!time.isEmpty() && !validTime(time))
        return false;
    if (!field(2).isEmpty())
        next.status = quint8(field(2)[0]);
    double value = 0.0;
    if (!field(3).isEmpty()) {
        if (!parseDegreesMinutes(field(3), 90, value))
            return false;
        next.lat = float(field(4) == "S" ? -value : value);
    }
    if (!field(5).isEmpty()) {
        if (!parseDegreesMinutes(field(5), 180, value))
            return false;
        next.lon = float(field(6) == "W" ? -value : value);
    }
    if (!field(7).isEmpty()) {
        if (!parseDecimal(field(7), value) || std::fabs(value * 1.852) >= 2147483647.0)
            return false;
        next.speed = kmhFromKnots(value);
    }
    if (!field(8).isEmpty()) {
        if (!parseDecimal(field(8), value) || std::fabs(value) > 1.0e6)
            return false;
        next.course = float(value);
    }
    const QByteArray date = field(9);
    if (!date.isEmpty() && (date.size() != 6 || !allDigits(date, 0, 6)))
        return false;
    sample = next;
    return true;
}
