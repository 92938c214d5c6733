// Locks, the extra thread and time on Windows (critical sections,
// CreateThread, GetTickCount, Sleep), usable on Windows 95/98.
#include "core/sys.h"

#include <windows.h>

#include <cstdlib>

static_assert(sizeof(CRITICAL_SECTION) <= sizeof(Lock::storage), "Lock storage too small");

static CRITICAL_SECTION* section_of(Lock* lock) {
    return reinterpret_cast<CRITICAL_SECTION*>(lock->storage);
}

void lock_init(Lock* lock) { InitializeCriticalSection(section_of(lock)); }
void lock_enter(Lock* lock) { EnterCriticalSection(section_of(lock)); }
void lock_leave(Lock* lock) { LeaveCriticalSection(section_of(lock)); }

namespace {
struct ThreadStart {
    ThreadRoutine routine;
    void* argument;
};
}  // namespace

// CreateThread wants a WINAPI (stdcall) routine; ours is a plain one.
static DWORD WINAPI run_thread(LPVOID raw) {
    ThreadStart start = *static_cast<ThreadStart*>(raw);
    free(raw);
    return static_cast<DWORD>(start.routine(start.argument));
}

uintptr_t thread_start(ThreadRoutine routine, void* argument) {
    ThreadStart* start = static_cast<ThreadStart*>(malloc(sizeof(ThreadStart)));
    if (start == nullptr) return 0;
    start->routine = routine;
    start->argument = argument;
    // Windows 95/98 fail CreateThread when the thread-id pointer is NULL.
    DWORD thread_id = 0;
    HANDLE thread = CreateThread(nullptr, 0, run_thread, start, 0, &thread_id);
    if (thread == nullptr) {
        free(start);
        return 0;
    }
    return reinterpret_cast<uintptr_t>(thread);
}

int thread_join(uintptr_t thread, uint32_t timeout_ms) {
    HANDLE handle = reinterpret_cast<HANDLE>(thread);
    DWORD waited = WaitForSingleObject(handle, timeout_ms);
    CloseHandle(handle);
    return waited == WAIT_OBJECT_0 ? 1 : 0;
}

uint32_t tick_count() { return GetTickCount(); }
void sleep_ms(uint32_t ms) { Sleep(ms); }
