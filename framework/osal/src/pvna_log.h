#pragma once
// The error line of the media library and the settings-image routines:
// "[<local time>.<ms>::ERROR(<file>|<function>|<line>)] <message>" on stderr.
#include <cstdio>
#include <ctime>
#include <string>

constexpr const char *PVNA_BOLD_RED = "\033[1;31m";
constexpr const char *PVNA_RESET = "\033[0m";

// The prefix for a moment given as seconds since 1970 plus milliseconds.
std::string pvna_log_prefix(time_t sec, long msec, const char *file, const char *func, int line);

// Writes prefix and message to out. boldRed wraps the message in the
// terminal's bold-red and reset sequences.
void pvna_log_error(FILE *out, bool boldRed, const char *file, const char *func, int line,
                    const char *fmt, ...) __attribute__((format(printf, 6, 7)));

#define PVNA_ERROR(...) pvna_log_error(stderr, false, __FILE__, __func__, __LINE__, __VA_ARGS__)
#define PVNA_ERROR_RED(...) pvna_log_error(stderr, true, __FILE__, __func__, __LINE__, __VA_ARGS__)
