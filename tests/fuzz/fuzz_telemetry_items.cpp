// libFuzzer target: the telemetry-item walk of record-file data packets.
// The input is cut into packets at '|' bytes so the walk state is carried
// across packets as in a real load; the first byte picks MP4 or MF2 offsets.
#include "TelemetryRecords.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

struct CheckingSink : TelemetrySink {
    int gsensorGroup(const GSensorSample *samples, int count, quint64) override
    {
        if (count <= 0 || !samples)
            std::abort();
        unsigned char bytes[GSensorSample::Size];
        for (int i = 0; i < count; ++i) {
            samples[i].store(bytes);
            const GSensorSample back = GSensorSample::load(bytes);
            if (std::memcmp(&back, &samples[i], sizeof back) != 0)
                std::abort();
        }
        return 0;
    }
    int gpsFix(const GpsSample &fix, quint64) override
    {
        if (fix.status != 'A' && fix.status != '0')
            std::abort();
        const GpsSample shown = normaliseRecordGps(fix);
        unsigned char bytes[GpsSample::Size];
        shown.store(bytes);
        return GpsSample::load(bytes).speed == shown.speed ? 0 : -1;
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size == 0)
        return 0;
    TelemetryWalkState state(data[0] & 1 ? TelemetryContainer::Mf2 : TelemetryContainer::Mp4);
    CheckingSink sink;
    size_t start = 1;
    quint64 packetUs = 0;
    while (start <= size) {
        const void *bar = std::memchr(data + start, '|', size - start);
        const size_t end = bar ? size_t(static_cast<const uint8_t *>(bar) - data) : size;
        // An exact copy, so any read past the packet is caught.
        std::vector<uint8_t> packet(data + start, data + end);
        const int n = walkTelemetryItems(packet.data(), qint64(packet.size()), packetUs, 1000000, state, sink);
        if (n < -1 || (packet.size() <= 12 && n != 0))
            std::abort();
        packetUs += 33000;
        start = end + 1;
    }
    return 0;
}
