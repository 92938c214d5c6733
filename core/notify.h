// How the network thread tells the window thread that something changed.
// core/notify_win32.cpp posts WM_FRAME_READY / WM_STATE_CHANGED to
// main_window and sets its title; core/notify_stub.cpp counts the calls so
// that native tests can observe them. Called on the network thread.
#ifndef QV_CORE_NOTIFY_H
#define QV_CORE_NOTIFY_H

void notify_frame_ready();     // after every VideoFrame of at least 17 bytes
void notify_state_changed();   // after status, AppList, StreamState, ServerText changes

// Sets the main window's title to `title` (Windows-1252). On Windows this
// waits until the window thread has processed it.
void set_main_window_title(const char* title);

#endif
