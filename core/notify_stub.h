// What the notification stand-in records, for native tests.
#ifndef QV_CORE_NOTIFY_STUB_H
#define QV_CORE_NOTIFY_STUB_H

#include <atomic>
#include <cstdint>

extern std::atomic<uint32_t> notify_stub_frame_ready_count;
extern std::atomic<uint32_t> notify_stub_state_changed_count;
extern char notify_stub_window_title[256];  // under text_lock

// When set, called on the notifying thread after each state-changed count,
// so a test can see every status text at the moment it is announced.
extern void (*notify_stub_state_changed_hook)();

#endif
