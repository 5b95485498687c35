// The MF2 reader and the merge over arbitrary files, then every entry handed
// out. Track tables are 4128 bytes a track, so the input mostly describes
// them: byte 0 bit 0 takes the input as a whole file instead; otherwise
// bytes 1-3 give the track count (up to 40, past the limit), kinds and
// configuration sizes, and the rest of the input follows the table as the
// packets. The frame buffer is small so that it fills.
#include "FrameIndex.h"
#include "Mf2Reader.h"
#include "RecordingMerge.h"

#include <QBuffer>
#include <cstring>
#include <vector>

namespace {

void put32(QByteArray &b, int at, quint32 v)
{
    for (int i = 0; i < 4; ++i)
        b[at + i] = char(v >> (8 * i));
}

QByteArray describedFile(const uint8_t *data, size_t size)
{
    const int tracks = data[1] % 41;
    const bool lieAboutTable = data[2] & 0x80;
    QByteArray f(16 + 52, '\0');
    memcpy(f.data(), "MF2H", 4);
    put32(f, 16, quint32(tracks * 4128 - (lieAboutTable ? 1 : 0)));
    put32(f, 16 + 48, quint32(tracks));
    for (int t = 0; t < tracks; ++t) {
        QByteArray d(4128, '\0');
        memcpy(d.data(), "MF2I", 4);
        const int kind = (data[2] >> (2 * (t % 3))) & 3;
        memcpy(d.data() + 4, kind == 0 ? "MF2V" : kind == 1 ? "MF2A" : kind == 2 ? "MF2D" : "MF2X", 4);
        put32(d, 8, kind == 1 ? 1 : 0);
        put32(d, 4124, quint32(data[3]) * 20);   // up to 5100: past the video limit
        put32(d, 288, quint32(data[3]) + 200);    // past the audio limit from 57 on
        memcpy(d.data() + 28, "\0\0\0\1\x40\1", 6);
        f += d;
    }
    f.append(reinterpret_cast<const char *>(data + 4), int(size - 4));
    return f;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 4 || size > (1 << 20))
        return 0;
    QByteArray file = (data[0] & 1) ? QByteArray(reinterpret_cast<const char *>(data), int(size))
                                    : describedFile(data, size);
    QBuffer device(&file);
    device.open(QIODevice::ReadOnly);
    FrameBuffer buffer;
    buffer.allocate(64 * 1024);
    RecordTracks tracks;
    RecordPackets packets;
    const int64_t bytes = Mf2Reader::read(device, buffer, tracks, packets);
    if (bytes > int64_t(buffer.used()) || tracks.video.size() > 8)
        __builtin_trap();

    MergeOptions options;
    options.container = (data[0] & 2) ? TelemetryContainer::Mp4 : TelemetryContainer::Mf2;
    options.baseTimeUs = 1678772725ull * 1000000;
    options.cutMs = (data[0] & 4) ? 3000 : -1;
    std::vector<ParameterSet> configs;
    for (const VideoTrack &v : tracks.video) {
        options.resolutionCodes.push_back(v.resolutionCode);
        configs.push_back({reinterpret_cast<const uint8_t *>(v.config.constData()), size_t(v.config.size())});
    }
    std::vector<FrameIndexEntry> index;
    std::vector<GSensorSample> gsensor;
    RecordingMerge::run(packets, options, buffer, index, gsensor);

    FrameIndex::FrameSource source;
    source.buffer = buffer.data();
    source.bufferSize = buffer.used();
    source.trackConfigs = configs.data();
    source.trackConfigCount = configs.size();
    std::vector<uint8_t> out(8192);
    size_t position = 0;
    FrameIndexEntry e;
    while (FrameIndex::nextFrame(index, position, source, ParameterSets::Reading::Forward, e, out.data(), out.size()) > 0) {
        if (e.marker == FrameIndexEntry::Video && (e.channel >= tracks.video.size() || (e.gop == 0) != e.isKeyFrame()))
            __builtin_trap();
    }
    return 0;
}
