/* Preloaded into the slow-card test: read() and pread() on a file whose path
 * contains ZV_SLOW_FILE give at most 2 KiB per call and take ZV_SLOW_READ_MS
 * longer, as on a slow card reader (callers loop over short reads). Every
 * other file reads at full speed. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/types.h>
#include <time.h>
#include <unistd.h>

static ssize_t (*realRead)(int, void *, size_t);
static ssize_t (*realPread)(int, void *, size_t, off_t);
static const char *marker;
static long delayMs;

__attribute__((constructor)) static void setUp(void)
{
    realRead = (ssize_t (*)(int, void *, size_t))dlsym(RTLD_NEXT, "read");
    realPread = (ssize_t (*)(int, void *, size_t, off_t))dlsym(RTLD_NEXT, "pread64");
    marker = getenv("ZV_SLOW_FILE");
    const char *ms = getenv("ZV_SLOW_READ_MS");
    delayMs = ms ? atol(ms) : 0;
}

enum { SlowPiece = 2048 };

/* True when fd is the slow file; the call has then been slowed down. */
static int slowDown(int fd)
{
    if (!marker || !*marker || delayMs <= 0)
        return 0;
    char link[64], path[4096];
    snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    const ssize_t n = readlink(link, path, sizeof path - 1);
    if (n <= 0)
        return 0;
    path[n] = '\0';
    if (!strstr(path, marker))
        return 0;
    const struct timespec pause = {delayMs / 1000, (delayMs % 1000) * 1000000L};
    nanosleep(&pause, NULL);
    return 1;
}

ssize_t read(int fd, void *buf, size_t count)
{
    if (slowDown(fd) && count > SlowPiece)
        count = SlowPiece;
    return realRead(fd, buf, count);
}

ssize_t pread64(int fd, void *buf, size_t count, off_t offset)
{
    if (slowDown(fd) && count > SlowPiece)
        count = SlowPiece;
    return realPread(fd, buf, count, offset);
}
