#pragma once
// Runs rounds of tasks, numbered 0..count-1, on a fixed set of threads (the
// calling thread among them). Within a round the tasks are handed out over
// and over, in turn, to whichever thread is free, never one task to two
// threads at once. The round ends once a whole turn of tasks in a row found
// nothing to do, whichever threads ran them, or when `ending` says so;
// run() returns when the tasks still running are done. A thread never
// leaves a round others still work in, so no thread is left to do the work
// of all. Everything a task wrote is visible to the caller
// when run() returns, and to the next thread that runs the same task.
#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

class ParallelRounds
{
public:
    static constexpr int MaxTasks = 16;

    // threads counts the caller: 1 runs every task on the caller.
    explicit ParallelRounds(int threads);
    ~ParallelRounds();
    ParallelRounds(const ParallelRounds &) = delete;
    ParallelRounds &operator=(const ParallelRounds &) = delete;

    // task(i) returns whether it found something to do. True when any did.
    bool run(int count, const std::function<bool(int)> &task, const std::function<bool()> &ending);

private:
    void helperLoop();
    void takeTasks();

    std::vector<std::thread> helpers;
    std::mutex mutex;
    std::condition_variable wake;
    std::condition_variable finished;
    const std::function<bool(int)> *task = nullptr;
    const std::function<bool()> *ending = nullptr;
    int count = 0;
    std::atomic<unsigned> next{0};
    std::atomic<int> idleStreak{0};
    std::atomic<bool> over{false};
    std::atomic<bool> worked{false};
    std::atomic<bool> held[MaxTasks] = {};
    unsigned generation = 0;
    int busy = 0;
    int seats = 0; // helpers that may still join the round: one task each at most
    bool quit = false;
};
