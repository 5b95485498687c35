#include "pvna_log.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <regex>
#include <string>

namespace {

std::string captureLine(bool boldRed, const char *message)
{
    FILE *f = tmpfile();
    pvna_log_error(f, boldRed, "framework/x.cpp", "PVNA_Fn", 42, "%s", message);
    rewind(f);
    char buf[4096] = {};
    size_t n = fread(buf, 1, sizeof buf - 1, f);
    fclose(f);
    return std::string(buf, n);
}

TEST(LogLine, PrefixFieldWidthsAndLocalTime)
{
    setenv("TZ", "UTC", 1);
    tzset();
    struct Case {
        time_t sec;
        long msec;
        const char *file;
        const char *func;
        int line;
        const char *expected;
    } cases[] = {
        {0, 7, "a.c", "f", 1, "[1970-01-01 00:00:00.007::ERROR(a.c                 |                     f|1)] "},
        {1678772725, 999, "src/pavona_av_muxer.cpp", "PVNA_AV_MUX_Create", 1234,
         "[2023-03-14 05:45:25.999::ERROR(src/pavona_av_muxer.cpp|    PVNA_AV_MUX_Create|1234)] "},
        // A function name longer than its field is not cut.
        {60, 0, "f", "a_function_name_longer_than_22", 5,
         "[1970-01-01 00:01:00.000::ERROR(f                   |a_function_name_longer_than_22|5)] "},
    };
    for (const Case &c : cases)
        EXPECT_EQ(pvna_log_prefix(c.sec, c.msec, c.file, c.func, c.line), c.expected);

    setenv("TZ", "Asia/Seoul", 1);
    tzset();
    EXPECT_EQ(pvna_log_prefix(0, 0, "a", "b", 1).substr(0, 25), "[1970-01-01 09:00:00.000:");
    unsetenv("TZ");
    tzset();
}

TEST(LogLine, MessageFollowsPrefixAndRedWrapsOnlyTheMessage)
{
    const std::regex plain(R"(^\[\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3}::ERROR\(framework/x\.cpp     \|               PVNA_Fn\|42\)\] File not found!!!$)");
    EXPECT_TRUE(std::regex_match(captureLine(false, "File not found!!!"), plain));

    const std::string red = captureLine(true, "Fail to md5sum!!");
    const size_t close = red.find(")] ");
    ASSERT_NE(close, std::string::npos);
    EXPECT_EQ(red.substr(close + 3), "\033[1;31mFail to md5sum!!\033[0m");
    EXPECT_EQ(red.find("\033"), close + 3) << "the prefix itself stays uncoloured";
}

} // namespace
