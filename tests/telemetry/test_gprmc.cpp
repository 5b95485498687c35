#include "GprmcParser.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

const char *const Example = "$GPRMC,123519,A,4807.038,N,01131.000,E,022.4,084.4,230394,003.1,W*6A\n";

GpsSample feedText(GprmcParser &parser, const std::string &text)
{
    return parser.feed(text.data(), qint64(text.size()));
}

struct SentenceCase {
    const char *name;
    std::string text;
    int status;
    double lat, lon;
    int speed;
    double course;
};

class GprmcSentence : public testing::TestWithParam<SentenceCase> {};

TEST_P(GprmcSentence, GivesTheSample)
{
    const SentenceCase &c = GetParam();
    GprmcParser parser;
    const GpsSample s = feedText(parser, c.text);
    EXPECT_EQ(+s.status, c.status);
    EXPECT_NEAR(s.lat, c.lat, 1e-5);
    EXPECT_NEAR(s.lon, c.lon, 1e-5);
    EXPECT_EQ(+s.speed, c.speed);
    EXPECT_NEAR(s.course, c.course, 1e-4);
    EXPECT_EQ(+s.sec, 0u);
    EXPECT_EQ(+s.usec, 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, GprmcSentence,
    testing::Values(
        SentenceCase{"Example", Example, 'A', 48.1173, 11.516667, 41, 84.4},
        SentenceCase{"CrLf", "$GPRMC,123519.25,A,4807.038,N,01131.000,E,022.4,084.4,230394\r\n", 'A', 48.1173,
                     11.516667, 41, 84.4},
        SentenceCase{"SouthWest", "$GPRMC,123519,A,4807.038,S,01131.000,W,022.4,084.4,230394,003.1,W\n", 'A',
                     -48.1173, -11.516667, 41, 84.4},
        SentenceCase{"LetterInTime", "$GPRMC,12a519,A,4807.038,N,01131.000,E,022.4,084.4,230394,003.1,W\n", 0, 0, 0,
                     0, 0},
        SentenceCase{"ShortTime", "$GPRMC,1235,A,4807.038,N,01131.000,E,022.4,084.4,230394,,\n", 0, 0, 0, 0, 0},
        SentenceCase{"LetterInDate", "$GPRMC,123519,A,4807.038,N,01131.000,E,022.4,084.4,23o394,,\n", 0, 0, 0, 0, 0},
        SentenceCase{"NoDecimalPoint", "$GPRMC,123519,A,4807,N,01131,E,10,5,230394,,\n", 'A', 48.116667, 11.516667,
                     18, 5},
        SentenceCase{"MinutesOver60", "$GPRMC,123519,A,4877.038,N,01131.000,E,022.4,084.4,230394,,\n", 0, 0, 0, 0, 0},
        SentenceCase{"LatitudeBeyond90", "$GPRMC,123519,A,9000.001,N,01131.000,E,022.4,084.4,230394,,\n", 0, 0, 0, 0,
                     0},
        SentenceCase{"LetterInLatitude", "$GPRMC,123519,A,48x7.038,N,01131.000,E,022.4,084.4,230394,,\n", 0, 0, 0, 0,
                     0},
        SentenceCase{"HugeSpeed", "$GPRMC,123519,A,4807.038,N,01131.000,E,99999999999999,084.4,230394,,\n", 0, 0, 0,
                     0, 0},
        SentenceCase{"OtherSentence", "$GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,*47\n", 0, 0, 0,
                     0, 0},
        SentenceCase{"NoLineFeedYet", "$GPRMC,123519,A,4807.038,N,01131.000,E,022.4,084.4,230394,003.1,W", 0, 0, 0, 0,
                     0},
        SentenceCase{"EmptyFields", "$GPRMC,,V,,,,,,,,,\n", 'V', 0, 0, 0, 0}),
    [](const testing::TestParamInfo<SentenceCase> &info) { return std::string(info.param.name); });

TEST(GprmcParser, EmptyFieldsKeepTheValuesOfAnEarlierSentence)
{
    GprmcParser parser;
    const GpsSample s = feedText(parser, "$GPRMC,123519,V,4807.038,N,01131.000,E,022.4,084.4,230394,,\n"
                                         "$GPRMC,123520,V,,,,,,,230394,,\n");
    EXPECT_EQ(+s.status, 'V');
    EXPECT_NEAR(s.lat, 48.1173, 1e-5);
    EXPECT_NEAR(s.lon, 11.516667, 1e-5);
    EXPECT_EQ(+s.speed, 41);
}

TEST(GprmcParser, RejectedSentenceChangesNothing)
{
    // The bad date comes after the position: none of the sentence may stick.
    GprmcParser parser;
    const GpsSample s = feedText(parser, "$GPRMC,123519,V,4807.038,N,01131.000,E,022.4,084.4,230394,,\n"
                                         "$GPRMC,123520,V,5000.000,S,00100.000,W,1.0,1.0,2303x4,,\n");
    EXPECT_NEAR(s.lat, 48.1173, 1e-5);
    EXPECT_EQ(+s.speed, 41);
}

TEST(GprmcParser, ValidFixEndsTheCallAndTheRestWaits)
{
    GprmcParser parser;
    const std::string second = "$GPRMC,123520,A,5000.000,S,00100.000,W,1.0,1.0,230394,,\n";
    GpsSample s = feedText(parser, std::string(Example) + second);
    EXPECT_NEAR(s.lat, 48.1173, 1e-5);
    EXPECT_EQ(parser.pending(), qint64(second.size()));
    s = parser.feed(nullptr, 0);
    EXPECT_EQ(+s.status, 'A');
    EXPECT_NEAR(s.lat, -50.0, 1e-5);
    EXPECT_EQ(parser.pending(), 0);
}

TEST(GprmcParser, SentenceSplitAcrossCalls)
{
    const std::string text = Example;
    for (size_t cut = 1; cut < text.size(); cut += 7) {
        GprmcParser parser;
        EXPECT_EQ(feedText(parser, text.substr(0, cut)).status, 0) << cut;
        const GpsSample s = feedText(parser, text.substr(cut));
        EXPECT_EQ(+s.status, 'A') << cut;
        EXPECT_NEAR(s.lon, 11.516667, 1e-5) << cut;
        EXPECT_EQ(parser.pending(), 0) << cut;
    }
}

TEST(GprmcParser, FullBufferDropsOldestTextAndKeepsAnswering)
{
    GprmcParser parser;
    // Each call takes one valid fix and leaves the rest waiting, so the
    // buffer fills up and overflows again and again.
    std::string chunk;
    while (chunk.size() < 64 * 1024)
        chunk += Example;
    for (int i = 0; i < 40; ++i) {
        const GpsSample s = feedText(parser, chunk);
        EXPECT_EQ(+s.status, 'A') << i;
        EXPECT_NEAR(s.lat, 48.1173, 1e-5) << i;
        EXPECT_LT(parser.pending(), GprmcParser::Capacity) << i;
    }
    EXPECT_GT(parser.pending(), GprmcParser::Capacity - 2 * qint64(chunk.size()));
}

TEST(GprmcParser, LineLongerThanTheBufferIsDroppedUpToItsLineFeed)
{
    GprmcParser parser;
    // The long line starts like a sentence, so a kept tail would be misread.
    const std::string longStart = "$GPRMC,123519,A," + std::string(GprmcParser::Capacity, '9');
    EXPECT_EQ(feedText(parser, longStart).status, 0);
    EXPECT_EQ(parser.pending(), 0);
    EXPECT_EQ(feedText(parser, std::string(1000, '7')).status, 0);
    GpsSample s = feedText(parser, ",N,01131.000,E,022.4,084.4,230394,,\n" + std::string(Example));
    EXPECT_EQ(+s.status, 'A');
    EXPECT_NEAR(s.lat, 48.1173, 1e-5);

    // The same in one piece.
    GprmcParser once;
    s = feedText(once, longStart + "\n" + Example);
    EXPECT_EQ(+s.status, 'A');
    EXPECT_NEAR(s.lon, 11.516667, 1e-5);
}

} // namespace
