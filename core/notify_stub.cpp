// Stand-in for the window notifications: counts them for tests.
#include "core/notify.h"
#include "core/notify_stub.h"

#include "core/client_text.h"

std::atomic<uint32_t> notify_stub_frame_ready_count;
std::atomic<uint32_t> notify_stub_state_changed_count;
char notify_stub_window_title[256];
void (*notify_stub_state_changed_hook)();

void notify_frame_ready() { notify_stub_frame_ready_count++; }
void notify_state_changed() {
    notify_stub_state_changed_count++;
    void (*hook)() = notify_stub_state_changed_hook;
    if (hook != nullptr) hook();
}
void set_main_window_title(const char* title) {
    text_store(notify_stub_window_title, sizeof notify_stub_window_title, title);
}
