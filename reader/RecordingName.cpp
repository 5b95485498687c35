#include "RecordingName.h"

#include <cctype>
#include <ctime>

namespace {

// "%07d_%s": up to seven digits, '_', then the text up to the first blank.
bool readSequenceAndRest(const QByteArray &text, quint32 *sequence, QByteArray *rest)
{
    int i = 0;
    quint32 value = 0;
    while (i < text.size() && i < 7 && isdigit(static_cast<unsigned char>(text[i])))
        value = value * 10 + quint32(text[i++] - '0');
    if (i == 0 || i >= text.size() || text[i] != '_')
        return false;
    int end = i + 1;
    while (end < text.size() && !isspace(static_cast<unsigned char>(text[end])))
        ++end;
    if (end == i + 1)
        return false;
    *sequence = value;
    *rest = text.mid(i + 1, end - i - 1);
    return true;
}

// A wall-clock time the clocks skipped when they went forward: read as
// mktime reads it with the daylight-saving state left open, i.e. with the
// offset in force before the change (02:30 becomes 03:30 on the new clock).
QDateTime skippedLocalTime(const QDate &date, const QTime &time)
{
    std::tm t = {};
    t.tm_year = date.year() - 1900;
    t.tm_mon = date.month() - 1;
    t.tm_mday = date.day();
    t.tm_hour = time.hour();
    t.tm_min = time.minute();
    t.tm_sec = time.second();
    t.tm_isdst = -1;
    const std::time_t seconds = std::mktime(&t);
    return seconds == std::time_t(-1) ? QDateTime() : QDateTime::fromSecsSinceEpoch(qint64(seconds), Qt::LocalTime);
}

QDateTime parseStart(const QByteArray &rest)
{
    const int underscore = rest.indexOf('_');
    const QString token = QString::fromLatin1(underscore < 0 ? rest : rest.left(underscore));
    const QDateTime start = QDateTime::fromString(token, QStringLiteral("yyyyMMdd-HHmmss"));
    if (start.isValid() || token.size() != 15 || token.at(8) != QLatin1Char('-'))
        return start;
    const QDate date = QDate::fromString(token.left(8), QStringLiteral("yyyyMMdd"));
    const QTime time = QTime::fromString(token.mid(9), QStringLiteral("HHmmss"));
    return date.isValid() && time.isValid() ? skippedLocalTime(date, time) : start;
}

} // namespace

quint32 eventKindOfLetter(char letter)
{
    switch (letter) {
    case 'N': return 0;
    case 'E': return 1;
    case 'F': return 3;
    default: return 2;
    }
}

bool parseRecordingName(const QByteArray &name, RecordingName *out)
{
    const int first = name.indexOf('_');
    if (first <= 0)
        return false;
    RecordingName r;
    QByteArray rest;
    if (!readSequenceAndRest(name.mid(first + 1), &r.sequence, &rest))
        return false;
    r.start = parseStart(rest);
    const int afterStart = rest.indexOf('_');
    if (afterStart < 0)
        return false;
    const QByteArray letters = rest.mid(afterStart);   // begins with '_'
    if (first > 1) {
        const int dot = rest.lastIndexOf('.');
        r.isMF2 = dot >= 0 && rest.mid(dot + 1) == "MF2";
        if (letters.size() < 6) {
            if (letters.size() < 2)
                return false;
            r.parking = letters[1] != 'D';
        } else {
            r.eventKind = eventKindOfLetter(letters[1]);
            r.parking = letters[2] != 'D';
            r.flag3 = letters[3] == 'P';
            r.flag4 = letters[4] == 'P';
        }
    } else {
        if (letters.size() < 2)
            return false;
        r.eventKind = eventKindOfLetter(name[0]);
        r.parking = letters[1] != 'D';
    }
    *out = r;
    return true;
}
