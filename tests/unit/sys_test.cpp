// The system services: locks, the extra thread, time. Natively these are
// pthreads; the Windows build runs the same tests on critical sections and
// CreateThread under Wine.
#include <gtest/gtest.h>

#include <atomic>

#include "core/sys.h"

namespace {

// Waits until flag is set, at most limit_ms. Returns whether it was set.
bool wait_for(const std::atomic<int>& flag, uint32_t limit_ms) {
    uint32_t start = tick_count();
    while (flag.load() == 0) {
        if (tick_count() - start > limit_ms) return false;
        sleep_ms(1);
    }
    return true;
}

struct Work {
    std::atomic<int> started{0};
    std::atomic<int> release{0};
    std::atomic<int> finished{0};
    int value = 0;
};

unsigned long set_value(void* raw) {
    Work* work = static_cast<Work*>(raw);
    work->value = 42;
    work->finished.store(1);
    return 0;
}

unsigned long wait_for_release(void* raw) {
    Work* work = static_cast<Work*>(raw);
    work->started.store(1);
    wait_for(work->release, 10000);
    work->finished.store(1);
    return 0;
}

TEST(Thread, RunsTheRoutineWithItsArgumentAndJoins) {
    Work work;
    uintptr_t thread = thread_start(set_value, &work);
    ASSERT_NE(thread, 0u);
    EXPECT_EQ(thread_join(thread, 10000), 1);
    EXPECT_EQ(work.finished.load(), 1);
    EXPECT_EQ(work.value, 42);
}

TEST(Thread, JoinGivesUpOnAThreadThatDoesNotEnd) {
    Work work;
    uintptr_t thread = thread_start(wait_for_release, &work);
    ASSERT_NE(thread, 0u);
    ASSERT_TRUE(wait_for(work.started, 10000));
    EXPECT_EQ(thread_join(thread, 20), 0);
    EXPECT_EQ(work.finished.load(), 0);
    // The thread goes on after the handle is released and ends normally.
    work.release.store(1);
    EXPECT_TRUE(wait_for(work.finished, 10000));
}

struct Counter {
    Lock lock;
    long total = 0;
};

unsigned long count_up(void* raw) {
    Counter* counter = static_cast<Counter*>(raw);
    for (int i = 0; i < 200000; i++) {
        lock_enter(&counter->lock);
        long seen = counter->total;
        counter->total = seen + 1;
        lock_leave(&counter->lock);
    }
    return 0;
}

TEST(Lock, KeepsTwoThreadsFromLosingUpdates) {
    static Counter counter;
    lock_init(&counter.lock);
    uintptr_t first = thread_start(count_up, &counter);
    uintptr_t second = thread_start(count_up, &counter);
    ASSERT_NE(first, 0u);
    ASSERT_NE(second, 0u);
    EXPECT_EQ(thread_join(first, 60000), 1);
    EXPECT_EQ(thread_join(second, 60000), 1);
    EXPECT_EQ(counter.total, 400000);
}

TEST(Time, TickCountMovesOnWhileSleeping) {
    uint32_t before = tick_count();
    sleep_ms(60);
    uint32_t elapsed = tick_count() - before;
    // The Windows tick moves in steps of up to 16 ms; the sleep lasts at least 60.
    EXPECT_GE(elapsed, 40u);
}

}  // namespace
