#include "GprmcParser.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

const std::string Example = "$GPRMC,123519,A,4807.038,N,01131.000,E,022.4,084.4,230394,003.1,W*6A\n";
const std::string Second = "$GPRMC,123520,A,5000.000,S,00100.000,W,1.0,1.0,230394,,\n";
const std::string LongStart = "$GPRMC,123519,A," + std::string(GprmcParser::Capacity, '9');

struct Expect { int status; double lat, lon; int speed; double course; qint64 pending; };
const Expect Rejected{}, Munich{'A', 48.1173, 11.516667, 41, 84.4, 0};

// Chunks fed to one parser in order; the sample of the last call and the
// bytes left waiting are what count.
struct FeedCase { const char *name; std::vector<std::string> chunks; Expect expect; };

TEST(GprmcParser, ChunksFedInOrder)
{
    std::vector<FeedCase> cases = {
        {"Example", {Example}, Munich},
        {"CrLfAndFraction", {"$GPRMC,123519.25,A,4807.038,N,01131.000,E,022.4,084.4,230394\r\n"}, Munich},
        {"SouthWest", {"$GPRMC,123519,A,4807.038,S,01131.000,W,022.4,084.4,230394,003.1,W\n"},
         {'A', -48.1173, -11.516667, 41, 84.4, 0}},
        {"NoDecimalPoint", {"$GPRMC,123519,A,4807,N,01131,E,10,5,230394,,\n"}, {'A', 48.116667, 11.516667, 18, 5, 0}},
        {"EmptyFields", {"$GPRMC,,V,,,,,,,,,\n"}, {'V', 0, 0, 0, 0, 0}},
        {"LetterInTime", {"$GPRMC,12a519,A,4807.038,N,01131.000,E,022.4,084.4,230394,003.1,W\n"}, Rejected},
        {"ShortTime", {"$GPRMC,1235,A,4807.038,N,01131.000,E,022.4,084.4,230394,,\n"}, Rejected},
        {"LetterInDate", {"$GPRMC,123519,A,4807.038,N,01131.000,E,022.4,084.4,23o394,,\n"}, Rejected},
        {"MinutesOver60", {"$GPRMC,123519,A,4877.038,N,01131.000,E,022.4,084.4,230394,,\n"}, Rejected},
        {"LatitudeBeyond90", {"$GPRMC,123519,A,9000.001,N,01131.000,E,022.4,084.4,230394,,\n"}, Rejected},
        {"LetterInLatitude", {"$GPRMC,123519,A,48x7.038,N,01131.000,E,022.4,084.4,230394,,\n"}, Rejected},
        {"HugeSpeed", {"$GPRMC,123519,A,4807.038,N,01131.000,E,99999999999999,084.4,230394,,\n"}, Rejected},
        {"OtherSentence", {"$GPGGA,123519,4807.038,N,01131.000,E,1,08,0.9,545.4,M,46.9,M,,*47\n"}, Rejected},
        {"NoLineFeedYet", {Example.substr(0, Example.size() - 1)}, {0, 0, 0, 0, 0, qint64(Example.size() - 1)}},
        // Empty fields keep the earlier values; a rejected sentence keeps none of its own.
        {"EmptyFieldsKeepValues",
         {"$GPRMC,123519,V,4807.038,N,01131.000,E,022.4,084.4,230394,,\n$GPRMC,123520,V,,,,,,,230394,,\n"},
         {'V', 48.1173, 11.516667, 41, 84.4, 0}},
        {"RejectedChangesNothing",
         {"$GPRMC,123519,V,4807.038,N,01131.000,E,022.4,084.4,230394,,\n"
          "$GPRMC,123520,V,5000.000,S,00100.000,W,1.0,1.0,2303x4,,\n"},
         {'V', 48.1173, 11.516667, 41, 84.4, 0}},
        // A valid fix ends the call; the rest waits for the next one.
        {"FixEndsTheCall", {Example + Second}, {'A', 48.1173, 11.516667, 41, 84.4, qint64(Second.size())}},
        {"RestOnNextCall", {Example + Second, ""}, {'A', -50, -1, 1, 1, 0}},
        // A line longer than the buffer is dropped up to its line feed,
        // whether it comes in pieces or in one.
        {"LongLineDropped", {LongStart}, Rejected},
        {"LongLineInPieces", {LongStart, Second.substr(0, 20), Second.substr(20) + Example}, Munich},
        {"LongLineWhole", {LongStart + "\n" + Example}, Munich},
    };
    for (size_t cut = 1; cut < Example.size(); cut += 7)
        cases.push_back({"SplitSentence", {Example.substr(0, cut), Example.substr(cut)}, Munich});
    for (const FeedCase &c : cases) {
        SCOPED_TRACE(c.name);
        GprmcParser parser;
        GpsSample s;
        for (const std::string &chunk : c.chunks)
            s = parser.feed(chunk.data(), qint64(chunk.size()));
        EXPECT_EQ(+s.status, c.expect.status);
        EXPECT_NEAR(s.lat, c.expect.lat, 1e-5);
        EXPECT_NEAR(s.lon, c.expect.lon, 1e-5);
        EXPECT_EQ(+s.speed, c.expect.speed);
        EXPECT_NEAR(s.course, c.expect.course, 1e-4);
        EXPECT_EQ(s.sec + s.usec, 0u);
        EXPECT_EQ(parser.pending(), c.expect.pending);
    }
}

TEST(GprmcParser, FullBufferDropsOldestTextAndKeepsAnswering)
{
    // Each call takes one fix and leaves the rest waiting, so the buffer
    // overflows again and again.
    GprmcParser parser;
    std::string chunk;
    while (chunk.size() < 64 * 1024)
        chunk += Example;
    for (int i = 0; i < 40; ++i) {
        const GpsSample s = parser.feed(chunk.data(), qint64(chunk.size()));
        EXPECT_EQ(+s.status, 'A') << i;
        EXPECT_NEAR(s.lat, 48.1173, 1e-5) << i;
        EXPECT_LT(parser.pending(), GprmcParser::Capacity) << i;
    }
    EXPECT_GT(parser.pending(), GprmcParser::Capacity - 2 * qint64(chunk.size()));
}

} // namespace
