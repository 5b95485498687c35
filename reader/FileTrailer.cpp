#include "FileTrailer.h"

#include "FileAccess.h"
#include "LittleEndian.h"

namespace {
constexpr int ChannelCountAt = 64;
constexpr int SizesAt = 68;
constexpr int StartAt = 132;
constexpr int DurationAt = 136;
constexpr int SlotsAt = 160;
constexpr int SlotCount = 64;
constexpr int OlderNameRepeatAt = 936;
constexpr int NameField = 64;
}

FileTrailer::FileTrailer() : data(Size, '\0') {}

FileTrailer::FileTrailer(const QByteArray &current) : data(current.left(Size))
{
    if (data.size() < Size)
        data.append(QByteArray(Size - data.size(), '\0'));
}

FileTrailer FileTrailer::fromOlder(const QByteArray &older)
{
    char old[OlderSize] = {};
    memcpy(old, older.constData(), size_t(qMin(int(older.size()), OlderSize)));
    char current[Size] = {};
    memcpy(current, old, OlderSize);
    const quint32 duration = le::u32(old + DurationAt);
    if (duration > 1000)
        le::putU32(current + DurationAt, duration / 1000);
    for (int i = 0; i < SlotCount; ++i) {
        char *slot = current + SlotsAt + 24 * i;
        memset(slot, 0, 24);
        le::putU32(slot, le::u32(old + SlotsAt + 12 * i));
        le::putU64(slot + 8, le::u32(old + SlotsAt + 12 * i + 4));
    }
    return FileTrailer(QByteArray(current, Size));
}

QByteArray FileTrailer::name() const
{
    const int nul = data.indexOf('\0');
    if (nul < 0 || nul >= NameField)
        return QByteArray();
    return data.left(nul);
}

bool FileTrailer::nameMatches(const QByteArray &name28) const
{
    return memcmp(data.constData(), name28.constData(), NameCompareLength) == 0;
}

int FileTrailer::channelCount() const { return le::u8(data.constData() + ChannelCountAt); }

quint32 FileTrailer::width(int channel) const
{
    if (channel < 0 || channel >= qMin(channelCount(), MaxChannels))
        return 0;
    return le::u32(data.constData() + SizesAt + 8 * channel);
}

quint32 FileTrailer::height(int channel) const
{
    if (channel < 0 || channel >= qMin(channelCount(), MaxChannels))
        return 0;
    return le::u32(data.constData() + SizesAt + 4 + 8 * channel);
}

quint32 FileTrailer::startTime() const { return le::u32(data.constData() + StartAt); }

quint32 FileTrailer::duration() const { return le::u32(data.constData() + DurationAt); }

QByteArray trailerNameKey(const QByteArray &name)
{
    QByteArray key = name.left(FileTrailer::NameCompareLength);
    key.append(QByteArray(FileTrailer::NameCompareLength - key.size(), '\0'));
    return key;
}

bool readFileTrailer(QIODevice &device, qint64 size, const QByteArray &name28, FileTrailer *out)
{
    FileTrailer trailer;
    char block[FileTrailer::Size];
    const qint64 olderAt = size - FileTrailer::OlderDistanceFromEnd;
    bool found = false;
    if (olderAt >= 0 && readExactly(device, olderAt, block, FileTrailer::OlderSize)
        && memcmp(block, name28.constData(), FileTrailer::NameCompareLength) == 0) {
        if (memcmp(block + OlderNameRepeatAt, block, FileTrailer::NameCompareLength) == 0) {
            trailer = FileTrailer::fromOlder(QByteArray(block, FileTrailer::OlderSize));
            found = true;
        }
    } else {
        const qint64 currentAt = size - FileTrailer::DistanceFromEnd;
        if (currentAt >= 0 && readExactly(device, currentAt, block, FileTrailer::Size)) {
            trailer = FileTrailer(QByteArray(block, FileTrailer::Size));
            found = true;
        }
    }
    if (!found || !trailer.nameMatches(name28) || trailer.channelCount() > FileTrailer::MaxChannels)
        return false;
    *out = trailer;
    return true;
}
