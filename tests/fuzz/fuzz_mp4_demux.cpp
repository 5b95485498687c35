// The MP4 demuxer on arbitrary files: open, describe and read every packet.
#include "pavona_av_demuxer.h"

extern "C" {
#include <libavutil/log.h>
#include <libavutil/mem.h>
}

#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

namespace {

int countBytes(void *opaque, const PVNA_AV_DEMUX_Packet *p)
{
    if (p->size < 0 || (p->size > 0 && !p->data))
        abort();
    *static_cast<size_t *>(opaque) += size_t(p->size);
    return 0;
}

// One scratch file per fuzzing process, rewritten for every input.
const std::string &scratchPath()
{
    static const std::string path = [] {
        char name[] = "/tmp/zv-fuzz-mp4-XXXXXX";
        const int fd = mkstemp(name);
        if (fd < 0)
            abort();
        close(fd);
        av_log_set_level(AV_LOG_QUIET);
        // Header counts can ask libavformat for huge tables; a cap keeps the
        // run within the fuzzer's memory limit (real recordings need far less).
        av_max_alloc(64 << 20);
        return std::string(name);
    }();
    return path;
}

} // namespace

// libavcodec's parsers allocate and free at a high rate while probing damaged
// streams; AddressSanitizer's default quarantine for freed blocks then grows
// the process past the fuzzer's memory limit without any leak.
extern "C" const char *__asan_default_options()
{
    return "quarantine_size_mb=32";
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const std::string &path = scratchPath();
    FILE *f = fopen(path.c_str(), "wb");
    if (!f)
        abort();
    if (size > 0 && fwrite(data, 1, size, f) != size)
        abort();
    fclose(f);

    PVNA_AV_DEMUX_Handle handle = nullptr;
    if (PVNA_AV_DEMUX_Create(&handle, "fuzz") != 0)
        abort(); // a handle leaked by an earlier input
    size_t bytes = 0;
    const PVNA_AV_DEMUX_OpenParams params{path.c_str(), PVNA_AV_DEMUX_FLAG_MEMORY_OUTPUT, countBytes, &bytes};
    if (PVNA_AV_DEMUX_Open(handle, &params) != 0)
        return 0;
    PVNA_AV_DEMUX_StreamInfo *info = new PVNA_AV_DEMUX_StreamInfo;
    if (PVNA_AV_DEMUX_GetStreamInfo(handle, info) != 0 || info->videoCount > PVNA_AV_DEMUX_MAX_VIDEO)
        abort();
    delete info;
    int result = 0;
    for (int reads = 0; reads < 100000; ++reads) {
        result = PVNA_AV_DEMUX_ReadPacket(handle);
        if (result != 0 && result != PVNA_AV_DEMUX_UNSUPPORTED)
            break;
    }
    if (result != PVNA_AV_DEMUX_END && result != 0 && result != PVNA_AV_DEMUX_UNSUPPORTED)
        abort();
    if (PVNA_AV_DEMUX_ReadPacket(handle) != PVNA_AV_DEMUX_END && result == PVNA_AV_DEMUX_END)
        abort();
    PVNA_AV_DEMUX_Destroy(handle);
    return 0;
}
