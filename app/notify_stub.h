// What the notification stand-in records, for native tests.
#ifndef QV_APP_NOTIFY_STUB_H
#define QV_APP_NOTIFY_STUB_H

#include <atomic>
#include <cstdint>

extern std::atomic<uint32_t> notify_stub_frame_ready_count;
extern std::atomic<uint32_t> notify_stub_state_changed_count;
extern char notify_stub_window_title[256];  // under text_lock

#endif
