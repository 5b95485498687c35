// Recording load figures: a 4-channel 1080p HEVC MP4 of 60 s (made once by
// the card generator into <build>/bench-cards) loaded for playback, beside
// ffmpeg copying the same file through the mp4-to-Annex-B filter to the null
// muxer; and a check that reading the loaded frames allocates nothing.
#include "BenchCards.h"
#include "Reader.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <new>

namespace {

std::atomic<long> allocations{0};

constexpr int Rounds = 3;
constexpr double TargetRatio = 1.0;

double ffmpegMs(const QString &path)
{
    QElapsedTimer t;
    t.start();
    const int rc = QProcess::execute("ffmpeg", {"-v", "error", "-nostdin", "-i", path, "-map", "0", "-c", "copy",
                                                "-bsf:v", "hevc_mp4toannexb", "-f", "null", "-"});
    return rc == 0 ? double(t.nsecsElapsed()) / 1e6 : -1;
}

} // namespace

// Counts every allocation of the process, so the frame reading can be shown
// to make none.
void *operator new(size_t n)
{
    allocations.fetch_add(1, std::memory_order_relaxed);
    if (void *p = std::malloc(n ? n : 1))
        return p;
    throw std::bad_alloc();
}
void *operator new[](size_t n)
{
    return operator new(n);
}
void operator delete(void *p) noexcept
{
    std::free(p);
}
void operator delete[](void *p) noexcept
{
    std::free(p);
}
void operator delete(void *p, size_t) noexcept
{
    std::free(p);
}
void operator delete[](void *p, size_t) noexcept
{
    std::free(p);
}

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QString build = qEnvironmentVariable("ZV_BINARY_DIR", QDir::currentPath());
    const QString dir = exportCard(build);
    if (dir.isEmpty()) {
        fprintf(stderr, "bench_load: cannot generate the recording\n");
        return 1;
    }
    Reader reader;
    if (reader.scanCard(dir) < 1) {
        fprintf(stderr, "bench_load: %s holds no recording\n", qPrintable(dir));
        return 1;
    }
    const FileRecord record = reader.files().first();

    double ours = 1e300, theirs = 1e300;
    qint64 bytes = 0;
    for (int round = 0; round < Rounds; ++round) {
        QElapsedTimer t;
        t.start();
        bytes = reader.loadFileForPlayback(0, record, false);
        ours = std::min(ours, double(t.nsecsElapsed()) / 1e6);
        theirs = std::min(theirs, ffmpegMs(record.path));
    }
    if (bytes < 1 || theirs < 0) {
        fprintf(stderr, "bench_load: the load or ffmpeg failed\n");
        return 1;
    }

    // Next frame: one 45-byte entry and the payload, nothing allocated.
    constexpr size_t capacity = 8 << 20;
    std::unique_ptr<uint8_t[]> data(new uint8_t[capacity]);
    FrameIndexEntry e;
    long frames = 0;
    const long before = allocations.load();
    QElapsedTimer t;
    t.start();
    while (reader.nextFrame(e, data.get(), capacity) > 0)
        ++frames;
    const double readMs = double(t.nsecsElapsed()) / 1e6;
    const long allocated = allocations.load() - before;

    const double ratio = ours / theirs;
    printf("recording: %s (%.1f MiB, 4 x 1920x1080 HEVC, 60 s)\n", qPrintable(QFileInfo(record.path).fileName()),
           double(QFileInfo(record.path).size()) / 1048576.0);
    printf("load file for playback: %.1f ms (%lld payload bytes), best of %d\n", ours,
           static_cast<long long>(bytes), Rounds);
    printf("ffmpeg -c copy -bsf:v hevc_mp4toannexb -f null: %.1f ms, best of %d\n", theirs, Rounds);
    printf("ratio ours/ffmpeg: %.2fx (target <= %.1fx) %s\n", ratio, TargetRatio, ratio <= TargetRatio ? "ok" : "OVER");
    printf("next frame: %ld entries in %.1f ms, %ld allocations %s\n", frames, readMs, allocated,
           allocated == 0 ? "ok" : "FAIL");
    return allocated == 0 ? 0 : 1;
}
