#include "osal_mutex.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

TEST(OsaMutex, CreateLockUnlockDeleteAndMutualExclusion)
{
    OSA_MutexHndl m;
    ASSERT_EQ(OSA_mutexCreate(&m), 0);

    // Four threads increment a plain counter under the mutex; a lost update
    // means the lock did not exclude.
    long counter = 0;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < 50000; ++i) {
                EXPECT_EQ(OSA_mutexLock(&m), 0);
                ++counter;
                EXPECT_EQ(OSA_mutexUnlock(&m), 0);
            }
        });
    }
    for (auto &t : threads)
        t.join();
    EXPECT_EQ(counter, 200000);

    // A default mutex is not recursive: trylock from the owner fails.
    ASSERT_EQ(OSA_mutexLock(&m), 0);
    EXPECT_NE(pthread_mutex_trylock(&m.lock), 0);
    ASSERT_EQ(OSA_mutexUnlock(&m), 0);
    EXPECT_EQ(OSA_mutexDelete(&m), 0);
}
