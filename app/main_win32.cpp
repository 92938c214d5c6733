// The Windows program's start-up, message loop and shutdown.
//
// Start-up runs on the window thread in a fixed order: the locks, Winsock,
// the settings, a host from the command line, the settings dialog when no
// host is known, the main window, the frame buffer, the display mode, the
// joystick check, the 15 ms timer, the statistics tick and last the network
// thread, which from its first moment posts to the window and may re-create
// the frame buffer. Shutdown reverses what needs reversing.
#include <windows.h>

#include "core/client_state.h"
#include "core/display.h"
#include "app/main_window.h"
#include "app/main_window_win32.h"
#include "input/input.h"
#include "link/connection.h"
#include "link/net.h"
#include "media/audio.h"
#include "media/frame_buffer.h"
#include "settings/settings.h"
#include "settings/settings_dialog.h"

static const char WINDOW_CLASS[] = "Quorvane";
static const char WINDOW_TITLE[] = "Quorvane! 1.0.0";

// How long shutdown waits for the network thread. It normally ends at once
// when its socket is closed; a connect to an unreachable host may not be
// interrupted, and then the process ends without it.
static const uint32_t NETWORK_THREAD_WAIT_MS = 3000;

static void register_window_class(HINSTANCE instance) {
    WNDCLASSA window_class;
    ZeroMemory(&window_class, sizeof window_class);
    window_class.style = 0;  // no redraw on resize, no double clicks
    window_class.lpfnWndProc = main_window_proc;
    window_class.hInstance = instance;
    window_class.hIcon = LoadIconA(instance, MAKEINTRESOURCEA(1));
    if (window_class.hIcon == nullptr) window_class.hIcon = LoadIconA(nullptr, IDI_APPLICATION);
    window_class.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    window_class.hbrBackground = nullptr;  // the window paints every pixel itself
    window_class.lpszClassName = WINDOW_CLASS;
    RegisterClassA(&window_class);
}

// Runs the message loop until the main window is destroyed. A GetMessageA
// failure (-1) also ends it, rather than spinning on the error.
static void run_message_loop() {
    MSG message;
    for (;;) {
        BOOL result = GetMessageA(&message, nullptr, 0, 0);
        if (result == 0 || result == -1) break;
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR command_line, int) {
    program_instance = instance;
    client_state_reset();
    client_state_init_locks();  // settings_lock is made by the settings code on first use

    if (!net_startup()) {
        MessageBoxA(nullptr, "Winsock saknas.", "Quorvane!", MB_ICONERROR);
        return 1;
    }
    load_settings();
    // A host on the command line is used for this run only; it reaches the
    // settings file only if the settings dialog saves it later.
    if (command_line != nullptr && command_line[0] != 0) {
        lstrcpynA(settings.host, command_line, HOST_SIZE);
    }
    if (settings.host[0] == 0 && run_settings_dialog(1) == 0) {
        net_cleanup();
        return 0;
    }

    register_window_class(instance);
    HWND window = CreateWindowExA(0, WINDOW_CLASS, WINDOW_TITLE, WS_POPUP, 0, 0, settings.bredd,
                                  settings.hojd, nullptr, nullptr, instance, nullptr);
    // Without a main window nothing could ever end the message loop; end
    // the program instead of waiting for ever.
    if (window == nullptr) {
        net_cleanup();
        return 0;
    }
    state.main_window = window;
    create_frame_buffer(settings.bredd, settings.hojd);
    apply_display_mode();
    SetForegroundWindow(window);
    joystick_startup_check();
    SetTimer(window, 1, TIMER_PERIOD_MS, nullptr);
    state.stats_tick = GetTickCount();
    uintptr_t network = thread_start(network_thread, nullptr);

    run_message_loop();

    state.quit.store(1);
    close_link_socket();  // a receive blocked on it fails, and the thread ends
    // Waiting for the network thread first means that no audio_open or
    // audio_write can run while (or after) the device is closed.
    if (network != 0) thread_join(network, NETWORK_THREAD_WAIT_MS);
    audio_close();
    restore_display_mode();
    net_cleanup();
    return 0;
}
