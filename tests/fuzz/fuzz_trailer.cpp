// Trailer reading and name parsing on arbitrary file contents. Input: one
// byte giving the name length, the name, then the file's bytes.
#include "FileTrailer.h"
#include "RecordingName.h"

#include <QBuffer>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 1)
        return 0;
    const size_t nameLength = qMin<size_t>(data[0], size - 1);
    const QByteArray name(reinterpret_cast<const char *>(data + 1), int(nameLength));
    QByteArray file(reinterpret_cast<const char *>(data + 1 + nameLength), int(size - 1 - nameLength));

    RecordingName parsed;
    parseRecordingName(name, &parsed);

    QBuffer buffer(&file);
    buffer.open(QIODevice::ReadOnly);
    FileTrailer trailer;
    if (readFileTrailer(buffer, file.size(), trailerNameKey(name), &trailer)) {
        volatile quint64 sum = trailer.duration() + trailer.startTime() + quint64(trailer.name().size());
        for (int c = -1; c <= 16; ++c)
            sum = sum + trailer.width(c) + trailer.height(c);
    }
    // The older form converted from whatever the input holds.
    const FileTrailer older = FileTrailer::fromOlder(file);
    volatile quint32 d = older.duration() + older.width(7);
    (void)d;
    return 0;
}
