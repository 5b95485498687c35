// libFuzzer target: the GPRMC parser fed in pieces. Each input is cut at NUL
// bytes into the pieces of successive calls on one parser, so text split
// across calls and the carry-over buffer are exercised.
#include "GprmcParser.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    GprmcParser parser;
    const char *text = reinterpret_cast<const char *>(data);
    size_t start = 0;
    while (start <= size) {
        const void *nul = std::memchr(text + start, '\0', size - start);
        const size_t end = nul ? size_t(static_cast<const char *>(nul) - text) : size;
        const GpsSample s = parser.feed(text + start, qint64(end - start));
        if (parser.pending() >= GprmcParser::Capacity)
            std::abort();
        if (!std::isfinite(s.lat) || !std::isfinite(s.lon) || !std::isfinite(s.course)
            || std::fabs(s.lat) > 90.0f || std::fabs(s.lon) > 180.0f || s.sec != 0 || s.usec != 0)
            std::abort();
        start = end + 1;
    }
    return 0;
}
