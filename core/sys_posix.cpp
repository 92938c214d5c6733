// Locks, the extra thread and time on Linux (pthreads, CLOCK_MONOTONIC).
#include "core/sys.h"

#include <pthread.h>
#include <time.h>

static_assert(sizeof(pthread_mutex_t) <= sizeof(Lock::storage), "Lock storage too small");

static pthread_mutex_t* mutex_of(Lock* lock) {
    return reinterpret_cast<pthread_mutex_t*>(lock->storage);
}

void lock_init(Lock* lock) { pthread_mutex_init(mutex_of(lock), nullptr); }
void lock_enter(Lock* lock) { pthread_mutex_lock(mutex_of(lock)); }
void lock_leave(Lock* lock) { pthread_mutex_unlock(mutex_of(lock)); }

namespace {
struct ThreadStart {
    ThreadRoutine routine;
    void* argument;
};
}  // namespace

static void* run_thread(void* raw) {
    ThreadStart start = *static_cast<ThreadStart*>(raw);
    delete static_cast<ThreadStart*>(raw);
    start.routine(start.argument);
    return nullptr;
}

uintptr_t thread_start(ThreadRoutine routine, void* argument) {
    ThreadStart* start = new ThreadStart{routine, argument};
    pthread_t thread;
    if (pthread_create(&thread, nullptr, run_thread, start) != 0) {
        delete start;
        return 0;
    }
    return static_cast<uintptr_t>(thread);
}

int thread_join(uintptr_t thread, uint32_t timeout_ms) {
    pthread_t handle = static_cast<pthread_t>(thread);
    timespec deadline;
    clock_gettime(CLOCK_REALTIME, &deadline);
    deadline.tv_sec += timeout_ms / 1000;
    deadline.tv_nsec += static_cast<long>(timeout_ms % 1000) * 1000000L;
    if (deadline.tv_nsec >= 1000000000L) {
        deadline.tv_sec += 1;
        deadline.tv_nsec -= 1000000000L;
    }
    if (pthread_timedjoin_np(handle, nullptr, &deadline) == 0) return 1;
    pthread_detach(handle);
    return 0;
}

uint32_t tick_count() {
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<uint32_t>(static_cast<uint64_t>(now.tv_sec) * 1000u +
                                 static_cast<uint64_t>(now.tv_nsec) / 1000000u);
}

void sleep_ms(uint32_t ms) {
    timespec pause;
    pause.tv_sec = ms / 1000;
    pause.tv_nsec = static_cast<long>(ms % 1000) * 1000000L;
    while (nanosleep(&pause, &pause) != 0) {
    }
}
