// Non-portable system functions: locks, the one extra thread, time.
// Implemented by core/sys_win32.cpp (critical sections, CreateThread,
// GetTickCount, Sleep) and core/sys_posix.cpp. Callable from any thread.
#ifndef QV_CORE_SYS_H
#define QV_CORE_SYS_H

#include <cstdint>

// A mutual-exclusion lock. Opaque storage large enough for a Win32
// CRITICAL_SECTION (24 bytes) and a pthread mutex (40 bytes on x86-64);
// each implementation checks the size it needs.
struct Lock {
    alignas(8) unsigned char storage[64];
};

void lock_init(Lock* lock);   // once, before any other use; never destroyed
void lock_enter(Lock* lock);
void lock_leave(Lock* lock);

// Starts routine(argument) on a new thread. Returns a handle for
// thread_join, or 0 when the thread could not be created.
typedef unsigned long (*ThreadRoutine)(void* argument);
uintptr_t thread_start(ThreadRoutine routine, void* argument);
// Waits up to timeout_ms for the thread to end and releases the handle.
// Returns 1 when it ended, 0 on time-out (the handle is released anyway).
int thread_join(uintptr_t thread, uint32_t timeout_ms);

// Milliseconds since some fixed moment; wraps around after 49.7 days.
uint32_t tick_count();
void sleep_ms(uint32_t ms);

#endif
