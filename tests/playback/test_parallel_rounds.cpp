// The rounds the decode thread runs its channels in: every unit of work is
// done, no task ever runs on two threads at once, work that turns up while
// one thread is busy is shared with the others, and a round ends when told.
#include "ParallelRounds.h"

#include <gtest/gtest.h>

#include <QElapsedTimer>

#include <array>
#include <atomic>
#include <chrono>
#include <mutex>
#include <set>
#include <thread>

namespace {

struct Work {
    std::array<std::atomic<int>, ParallelRounds::MaxTasks> left{};
    std::array<std::atomic<int>, ParallelRounds::MaxTasks> inside{};
    std::atomic<int> overlaps{0};
    std::mutex lock;
    std::set<std::thread::id> threads[ParallelRounds::MaxTasks];

    // One unit of task i, if it has one left.
    bool unit(int i, int spinUs)
    {
        if (inside[i].fetch_add(1) != 0)
            ++overlaps;
        bool found = false;
        if (left[i].load() > 0) {
            found = true;
            const auto until = std::chrono::steady_clock::now() + std::chrono::microseconds(spinUs);
            while (std::chrono::steady_clock::now() < until) {
            }
            --left[i];
            std::lock_guard<std::mutex> g(lock);
            threads[i].insert(std::this_thread::get_id());
        }
        --inside[i];
        return found;
    }
    int total() const
    {
        int sum = 0;
        for (const auto &l : left)
            sum += l.load();
        return sum;
    }
};

// Runs rounds until the work is done or 10 s have gone.
bool runToEnd(ParallelRounds &rounds, int tasks, Work &work, int spinUs)
{
    QElapsedTimer timer;
    timer.start();
    const std::function<bool(int)> task = [&](int i) { return work.unit(i, spinUs); };
    const std::function<bool()> never = [] { return false; };
    while (work.total() > 0 && timer.elapsed() < 10000) {
        if (!rounds.run(tasks, task, never))
            std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    return work.total() == 0;
}

} // namespace

TEST(ParallelRounds, DoesEveryUnitAndNeverRunsATaskTwiceAtOnce)
{
    for (int threads : {1, 2, 3}) {
        for (int tasks : {1, 2, 5, 8}) {
            SCOPED_TRACE(testing::Message() << threads << " threads, " << tasks << " tasks");
            ParallelRounds rounds(threads);
            Work work;
            for (int i = 0; i < tasks; ++i)
                work.left[i] = 5 + 7 * i;
            ASSERT_TRUE(runToEnd(rounds, tasks, work, 50));
            EXPECT_EQ(work.overlaps.load(), 0);
        }
    }
}

// Only one task has work at first; the others get theirs while the round
// runs. Their work must not all fall to the one thread that never left.
TEST(ParallelRounds, WorkThatTurnsUpIsShared)
{
    ParallelRounds rounds(2);
    Work work;
    work.left[0] = 200;
    std::thread producer([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        for (int i = 1; i < 4; ++i)
            work.left[i] = 100;
    });
    ASSERT_TRUE(runToEnd(rounds, 4, work, 500));
    producer.join();
    std::set<std::thread::id> late;
    for (int i = 1; i < 4; ++i)
        late.insert(work.threads[i].begin(), work.threads[i].end());
    EXPECT_EQ(late.size(), 2u);
    EXPECT_EQ(work.overlaps.load(), 0);
}

TEST(ParallelRounds, EndsWhenTold)
{
    for (int threads : {1, 2}) {
        SCOPED_TRACE(threads);
        ParallelRounds rounds(threads);
        std::atomic<int> units{0};
        const std::function<bool(int)> task = [&](int) {
            ++units;
            return true; // always more to do
        };
        const std::function<bool()> ending = [&] { return units.load() >= 50; };
        EXPECT_TRUE(rounds.run(4, task, ending));
        // Each thread may finish the task it had started.
        EXPECT_LE(units.load(), 50 + threads);
        EXPECT_FALSE(rounds.run(0, task, ending));
    }
}
