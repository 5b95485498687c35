// The export's readers of recorded bytes: parameter sets and picture size of
// an Annex-B frame, ADTS headers and the ADTS join, on arbitrary input.
#include "StreamConfig.h"

extern "C" {
#include <libavutil/log.h>
}

#include <algorithm>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    av_log_set_level(AV_LOG_QUIET);
    const bool hevc = size > 0 && (data[0] & 1);
    const QByteArray sets = StreamConfig::parameterSets(data, size, hevc);
    if (sets.size() > int(size) + 4 * int(size / 3 + 1))
        abort(); // never more than the input's NAL units with their start codes
    StreamConfig::complete(sets, hevc);
    StreamConfig::pictureSize(QByteArray(reinterpret_cast<const char *>(data), int(size)), hevc);

    StreamConfig::Adts adts;
    if (StreamConfig::parseAdts(data, size, &adts)
        && (adts.frameLength < adts.headerLength || adts.frameLength > StreamConfig::AdtsJoin::MaxFrame))
        abort();
    // The input cut into packets whose sizes its own bytes choose, as a stream of audio packets.
    StreamConfig::AdtsJoin join;
    size_t at = 0;
    while (at < size) {
        const size_t piece = std::min<size_t>(size - at, 1 + data[at] % 64);
        const QByteArray out = join.feed(data + at, int(piece));
        if (out.size() > StreamConfig::AdtsJoin::MaxFrame && out.size() != int(piece))
            abort();
        at += piece;
    }
    return 0;
}
