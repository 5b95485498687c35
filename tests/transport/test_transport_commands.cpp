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
};

} // namespace

TEST(TransportCommands, EachCommandDrivesTheThreadsByDirection)
{
    const int F = Transport::Forward, B = Transport::Backward;
    const CommandCase cases[] = {
        {"play forward", F, &Transport::play, {"play"}, F, false},
        {"play from backward", B, &Transport::play, {"play"}, F, false},
        {"reverse from forward", F, &Transport::reverse, {"reverse"}, B, false},
        {"reverse backward", B, &Transport::reverse, {"reverse"}, B, false},
        {"next frame from backward", B, &Transport::nextFrame, {"stepForward"}, F, true},
        {"previous frame from forward", F, &Transport::previousFrame, {"stepBackward"}, B, true},
        {"fast forward while forward", F, &Transport::fastForward, {"fastForward"}, F, false},
        {"fast forward while backward", B, &Transport::fastForward, {}, B, false},
        {"fast backward while forward", F, &Transport::fastBackward, {}, F, false},
        {"fast backward while backward", B, &Transport::fastBackward, {"fastBackward"}, B, false},
        {"pause", B, &Transport::pause, {"pause"}, B, true},
        {"resume", B, &Transport::resume, {"resume"}, B, false},
        {"space while playing", F, &Transport::togglePause, {"pause"}, F, true},
        {"seek", F, [](Transport &t) { t.seek(2, 1678772755); }, {"seek 2 1678772755000"}, F, false},
    };
    for (const CommandCase &c : cases) {
        FakeTarget target;
        Transport transport(&target);
        transport.started(c.directionBefore);
        c.command(transport);
        EXPECT_EQ(target.calls, c.calls) << c.name;
        EXPECT_EQ(transport.playDirection(), c.directionAfter) << c.name;
        EXPECT_EQ(transport.isPaused(), c.pausedAfter) << c.name;
    }
}

TEST(TransportCommands, SpaceAfterPauseResumesInTheRememberedDirection)
{
    for (int direction : {int(Transport::Forward), int(Transport::Backward)}) {
        FakeTarget target;
        Transport transport(&target);
        transport.started(direction);
        transport.togglePause();
        transport.togglePause();
        const QStringList expected{"pause", direction == Transport::Forward ? "play" : "reverse"};
        EXPECT_EQ(target.calls, expected) << direction;
        EXPECT_FALSE(transport.isPaused());
        EXPECT_EQ(transport.playDirection(), direction);
    }
}

TEST(TransportCommands, ReverseRefusedKeepsTheDirection)
{
    FakeTarget target;
    target.reverseResult = -1;
    Transport transport(&target);
    transport.started(Transport::Forward);
    transport.reverse();
    EXPECT_EQ(transport.playDirection(), int(Transport::Forward));
}

TEST(TransportCommands, NothingHappensWhileNoRecordingPlays)
{
    const std::function<void(Transport &)> commands[] = {
        &Transport::play,         &Transport::reverse,      &Transport::pause,    &Transport::resume,
        &Transport::togglePause,  &Transport::nextFrame,    &Transport::previousFrame,
        &Transport::fastForward,  &Transport::fastBackward, &Transport::nextBank, &Transport::previousBank,
        [](Transport &t) { t.seek(0, 100); },
    };
    int i = 0;
    for (const auto &command : commands) {
        FakeTarget target;
        target.running = false;
        Transport transport(&target);
        transport.setCatalogueSize(3);
        QSignalSpy opens(&transport, &Transport::openRequested);
        command(transport);
        EXPECT_TRUE(target.calls.isEmpty()) << "command " << i << ": " << target.calls.join(',').toStdString();
        EXPECT_EQ(opens.count(), 0) << "command " << i;
        ++i;
    }
}

TEST(TransportCommands, RecordingStepsStayInsideTheCatalogue)
{
    const struct {
        int current;
        int direction;
        int delta;
        int expected; // -1: ignored
    } cases[] = {
        {1, Transport::Forward, +1, 2},  {1, Transport::Backward, +1, 2}, {1, Transport::Forward, -1, 0},
        {1, Transport::Backward, -1, 0}, {2, Transport::Forward, +1, -1}, {0, Transport::Backward, -1, -1},
        {-1, Transport::Forward, +1, -1},
    };
    for (const auto &c : cases) {
        FakeTarget target;
        target.index = c.current;
        Transport transport(&target);
        transport.setCatalogueSize(3);
        transport.started(c.direction);
        QSignalSpy opens(&transport, &Transport::openRequested);
        c.delta > 0 ? transport.nextBank() : transport.previousBank();
        if (c.expected < 0) {
            EXPECT_EQ(opens.count(), 0) << c.current << " " << c.delta;
        } else {
            ASSERT_EQ(opens.count(), 1) << c.current << " " << c.delta;
            EXPECT_EQ(opens.at(0).at(0).toInt(), c.expected);
            EXPECT_EQ(opens.at(0).at(1).toInt(), c.direction);
        }
        EXPECT_TRUE(target.calls.isEmpty());
    }
}
