#include "pvna_log.h"

#include <cstdarg>
#include <sys/time.h>

std::string pvna_log_prefix(time_t sec, long msec, const char *file, const char *func, int line)
{
    struct tm local;
    localtime_r(&sec, &local);
    char stamp[32];
    strftime(stamp, sizeof stamp, "%Y-%m-%d %H:%M:%S", &local);
    char prefix[1024];
    snprintf(prefix, sizeof prefix, "[%s.%03ld::ERROR(%-20s|%22s|%d)] ", stamp, msec, file, func, line);
    return prefix;
}

void pvna_log_error(FILE *out, bool boldRed, const char *file, const char *func, int line,
                    const char *fmt, ...)
{
    struct timeval now;
    gettimeofday(&now, nullptr);
    std::string text = pvna_log_prefix(now.tv_sec, now.tv_usec / 1000, file, func, line);

    va_list args;
    va_start(args, fmt);
    char message[2048];
    vsnprintf(message, sizeof message, fmt, args);
    va_end(args);

    if (boldRed)
        text += PVNA_BOLD_RED;
    text += message;
    if (boldRed)
        text += PVNA_RESET;
    // One write per line, so lines of two threads never interleave.
    fputs(text.c_str(), out);
    fflush(out);
}
