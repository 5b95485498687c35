// The transport commands against a stand-in for the playback threads: which
// operations each command calls in which direction, the remembered
// direction afterwards, nothing at all while no recording plays, and
// recording steps that stay inside the catalogue.
#include "Transport.h"
#include "TransportTarget.h"

#include <QSignalSpy>
#include <QStringList>
#include <gtest/gtest.h>

#include <functional>

namespace {

class FakeTarget : public TransportTarget
{
public:
    bool running = true;
    int index = 1;
    int reverseResult = 0;
    QStringList calls;

    bool isRunning() const override { return running; }
    int currentIndex() const override { return index; }
    void play() override { calls << "play"; }
    int reverse() override { calls << "reverse"; return reverseResult; }
    void pause() override { calls << "pause"; }
    void resume() override { calls << "resume"; }
    void stepForward() override { calls << "stepForward"; }
    void stepBackward() override { calls << "stepBackward"; }
    void fastForward() override { calls << "fastForward"; }
    void fastBackward() override { calls << "fastBackward"; }
    int seek(int i, qint64 ms) override { calls << QStringLiteral("seek %1 %2").arg(i).arg(ms); return 0; }
    void setSpeed(float speed) override { calls << QStringLiteral("speed %1").arg(double(speed)); }
};

struct CommandCase {
    const char *name;
    int directionBefore;
    std::function<void(Transport &)> command;
    QStringList calls;
    int directionAfter;
    bool pausedAfter;
    int reverseResult = 0;
};

} // namespace

TEST(TransportCommands, EachCommandDrivesTheThreadsByDirectionAndNothingWhileStopped)
{
    const int F = Transport::Forward, B = Transport::Backward;
    const auto toggleTwice = [](Transport &t) { t.togglePause(), t.togglePause(); };
    const CommandCase cases[] = {
        {"play forward", F, &Transport::play, {"play"}, F, false},
        {"play from backward", B, &Transport::play, {"play"}, F, false},
        {"reverse from forward", F, &Transport::reverse, {"reverse"}, B, false},
        {"reverse backward", B, &Transport::reverse, {"reverse"}, B, false},
        {"reverse refused", F, &Transport::reverse, {"reverse"}, F, false, -1},
        {"next frame from backward", B, &Transport::nextFrame, {"stepForward"}, F, true},
        {"previous frame from forward", F, &Transport::previousFrame, {"stepBackward"}, B, true},
        {"fast forward while forward", F, &Transport::fastForward, {"fastForward"}, F, false},
        {"fast forward while backward", B, &Transport::fastForward, {}, B, false},
        {"fast backward while forward", F, &Transport::fastBackward, {}, F, false},
        {"fast backward while backward", B, &Transport::fastBackward, {"fastBackward"}, B, false},
        {"pause", B, &Transport::pause, {"pause"}, B, true},
        {"resume", B, &Transport::resume, {"resume"}, B, false},
        {"space while playing", F, &Transport::togglePause, {"pause"}, F, true},
        // Space after a pause resumes in the remembered direction.
        {"space twice forward", F, toggleTwice, {"pause", "play"}, F, false},
        {"space twice backward", B, toggleTwice, {"pause", "reverse"}, B, false},
        {"seek", F, [](Transport &t) { t.seek(2, 1678772755); }, {"seek 2 1678772755000"}, F, false},
    };
    for (const CommandCase &c : cases) {
        for (bool running : {true, false}) {
            FakeTarget target;
            target.running = running;
            target.reverseResult = c.reverseResult;
            Transport transport(&target);
            transport.setCatalogueSize(3);
            transport.started(c.directionBefore);
            QSignalSpy opens(&transport, &Transport::openRequested);
            c.command(transport);
            EXPECT_EQ(target.calls, running ? c.calls : QStringList()) << c.name << " running " << running;
            EXPECT_EQ(opens.count(), 0) << c.name;
            if (running) {
                EXPECT_EQ(transport.playDirection(), c.directionAfter) << c.name;
                EXPECT_EQ(transport.isPaused(), c.pausedAfter) << c.name;
            }
        }
    }
}

TEST(TransportCommands, RecordingStepsStayInsideTheCatalogue)
{
    const struct { int current, direction, delta, expected; /* -1: ignored */ } cases[] = {
        {1, Transport::Forward, +1, 2},  {1, Transport::Backward, +1, 2}, {1, Transport::Forward, -1, 0},
        {1, Transport::Backward, -1, 0}, {2, Transport::Forward, +1, -1}, {0, Transport::Backward, -1, -1},
        {-1, Transport::Forward, +1, -1},
    };
    for (const auto &c : cases) {
        // Nothing at all while no recording plays.
        for (bool running : {true, false}) {
            FakeTarget target;
            target.running = running;
            target.index = c.current;
            Transport transport(&target);
            transport.setCatalogueSize(3);
            transport.started(c.direction);
            QSignalSpy opens(&transport, &Transport::openRequested);
            c.delta > 0 ? transport.nextBank() : transport.previousBank();
            const int expected = running ? c.expected : -1;
            ASSERT_EQ(opens.count(), expected < 0 ? 0 : 1) << c.current << " " << c.delta << " running " << running;
            if (expected >= 0) {
                EXPECT_EQ(opens.at(0).at(0).toInt(), expected);
                EXPECT_EQ(opens.at(0).at(1).toInt(), c.direction);
            }
            EXPECT_TRUE(target.calls.isEmpty());
        }
    }
}
