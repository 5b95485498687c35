#include "ParallelRounds.h"

#include <algorithm>
#include <chrono>

ParallelRounds::ParallelRounds(int threads)
{
    for (int i = 1; i < threads; ++i)
        helpers.emplace_back([this] { helperLoop(); });
}

ParallelRounds::~ParallelRounds()
{
    {
        std::lock_guard<std::mutex> lock(mutex);
        quit = true;
    }
    wake.notify_all();
    for (std::thread &t : helpers)
        t.join();
}

bool ParallelRounds::run(int taskCount, const std::function<bool(int)> &roundTask,
                         const std::function<bool()> &roundEnding)
{
    taskCount = std::min(taskCount, MaxTasks);
    if (taskCount <= 0)
        return false;
    bool called = false;
    {
        std::lock_guard<std::mutex> lock(mutex);
        task = &roundTask;
        ending = &roundEnding;
        count = taskCount;
        next = 0;
        idleStreak = 0;
        over = false;
        worked = false;
        // More threads than tasks would only find them held.
        seats = std::min(int(helpers.size()), taskCount - 1);
        busy = seats ? int(helpers.size()) : 0;
        called = busy != 0;
        if (called)
            ++generation;
    }
    if (called)
        wake.notify_all();
    takeTasks();
    std::unique_lock<std::mutex> lock(mutex);
    finished.wait(lock, [this] { return busy == 0; });
    task = nullptr;
    ending = nullptr;
    return worked.load();
}

void ParallelRounds::takeTasks()
{
    int missed = 0; // this thread's tasks in a row that found nothing
    while (!over.load()) {
        if ((*ending)()) {
            over = true;
            break;
        }
        const int i = int(next.fetch_add(1) % unsigned(count));
        bool expected = false;
        if (!held[i].compare_exchange_strong(expected, true, std::memory_order_acquire))
            continue; // another thread runs it
        const bool found = (*task)(i);
        held[i].store(false, std::memory_order_release);
        if (found) {
            idleStreak = 0;
            missed = 0;
            worked = true;
            continue;
        }
        // A whole turn in a row found nothing, whoever ran it: the round
        // ends, once the tasks still running are done.
        if (++idleStreak >= count) {
            over = true;
            break;
        }
        // This thread found nothing in a whole turn while others work: it
        // waits a little rather than spin.
        if (++missed >= count) {
            missed = 0;
            std::this_thread::sleep_for(std::chrono::microseconds(500));
        }
    }
}

void ParallelRounds::helperLoop()
{
    unsigned seen = 0;
    for (;;) {
        {
            std::unique_lock<std::mutex> lock(mutex);
            wake.wait(lock, [&] { return quit || generation != seen; });
            if (quit)
                return;
            seen = generation;
        }
        bool seated = false;
        {
            std::lock_guard<std::mutex> lock(mutex);
            if (seats > 0) {
                --seats;
                seated = true;
            }
        }
        if (seated)
            takeTasks();
        {
            std::lock_guard<std::mutex> lock(mutex);
            --busy;
        }
        finished.notify_one();
    }
}
