#pragma once
// The metadata block at the end of every recording file: name, channel
// count, per-channel picture sizes, start time, duration and 64 slots.
#include <QByteArray>
#include <QIODevice>

class FileTrailer
{
public:
    static constexpr int Size = 1696;          // current form
    static constexpr int OlderSize = 1000;     // older form
    static constexpr qint64 DistanceFromEnd = 2048;
    static constexpr qint64 OlderDistanceFromEnd = 1024;
    static constexpr int NameCompareLength = 28;
    static constexpr int MaxChannels = 8;

    FileTrailer();
    // Takes a current-form block as it is (shorter input is zero-filled).
    explicit FileTrailer(const QByteArray &current);
    // Converts an older block: duration in milliseconds above 1000 becomes
    // seconds, 12-byte slots widen to 24-byte slots.
    static FileTrailer fromOlder(const QByteArray &older);

    const QByteArray &bytes() const { return data; }
    // The stored name up to its NUL; empty when the 64 bytes hold no NUL.
    QByteArray name() const;
    bool nameMatches(const QByteArray &name28) const;
    int channelCount() const;
    quint32 width(int channel) const;
    quint32 height(int channel) const;
    quint32 startTime() const;
    quint32 duration() const;

private:
    QByteArray data;
};

// The first 28 bytes of a name, zero-padded: what a trailer is checked against.
QByteArray trailerNameKey(const QByteArray &name);

// Reads the trailer of a file of the given size: the older form at 1024
// bytes before the end when it carries the name (and its repeat at 936), the
// current form at 2048 bytes before the end otherwise. At most two reads of
// at most 1696 bytes. Returns false when there is no trailer for this name
// or its channel count is above eight.
bool readFileTrailer(QIODevice &device, qint64 size, const QByteArray &name28, FileTrailer *out);
