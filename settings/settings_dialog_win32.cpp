// The settings dialog: a top-level window of its own class built from
// standard controls, with its own message loop that runs until the user
// confirms (Enter, "OK") or cancels (Esc, the cancel button, the close box).
// A confirmation stores the values through the dialog rules and writes
// QUORVANE.INI. Opened at start-up when no host is known, and with F10.
// Window thread only.
#include <windows.h>

#include <cstring>

#include "core/client_text.h"
#include "core/client_state.h"
#include "core/display.h"
#include "settings/dialog_rules.h"
#include "settings/settings.h"
#include "settings/settings_dialog.h"

static const char SETTINGS_CLASS[] = "QVSettings";
static const char SETTINGS_TITLE[] = "Quorvane! - inst\xE4llningar";
static const char HELP_TEXT[] =
    "F6 adressf\xE4lt (webb), F8 pekare/l\xE5st mus, F9 meny,\n"
    "F10 inst\xE4llningar, F11 statistik, F12 avsluta.";

enum {
    DIALOG_WIDTH = 330,
    DIALOG_HEIGHT = 290,
    // Control ids.
    ID_HOST = 10,
    ID_PORT = 11,
    ID_NAMN = 12,
    ID_RESOLUTION = 13,
    ID_FULLSKARM = 14,
    ID_LJUD = 15,
    ID_FPS = 16,
    ID_NYCKEL = 17,
    // dialog_result
    DIALOG_OPEN = 0,
    DIALOG_CONFIRMED = 1,
    DIALOG_CANCELLED = 2,
};

// 0 while the dialog is open, then 1 (confirmed) or 2 (cancelled).
static int dialog_result;
// 1 while a dialog runs: F10 on the main window, which stays usable behind
// the dialog, must not open a second one inside the first one's loop (the
// first would then read back controls that are gone).
static int dialog_running;

// The controls read back on confirmation.
static HWND host_field;
static HWND port_field;
static HWND namn_field;
static HWND nyckel_field;
static HWND resolution_list;
static HWND fps_field;
static HWND fullskarm_box;
static HWND ljud_box;

static LRESULT CALLBACK settings_window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message == WM_COMMAND && (LOWORD(wparam) == IDOK || LOWORD(wparam) == IDCANCEL)) {
        dialog_result = LOWORD(wparam);
        return 0;
    }
    if (message == WM_CLOSE) {  // the close box, Alt+F4: the loop destroys the window
        dialog_result = DIALOG_CANCELLED;
        return 0;
    }
    return DefWindowProcA(window, message, wparam, lparam);
}

// One visible child control with the stock dialog font; edit fields get a
// sunken edge.
static HWND add_dialog_control(const char* class_name, const char* text, DWORD styles, int x, int y, int width,
                               int height, HWND parent, int id) {
    DWORD extended = strcmp(class_name, "EDIT") == 0 ? WS_EX_CLIENTEDGE : 0;  // exact, case-sensitive
    HWND control = CreateWindowExA(extended, class_name, text, styles | WS_CHILD | WS_VISIBLE, x, y, width, height,
                                   parent, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                                   static_cast<HINSTANCE>(program_instance), nullptr);
    SendMessageA(control, WM_SETFONT, reinterpret_cast<WPARAM>(GetStockObject(DEFAULT_GUI_FONT)), TRUE);
    return control;
}

static void register_settings_class() {
    WNDCLASSA window_class;
    ZeroMemory(&window_class, sizeof window_class);
    window_class.lpfnWndProc = settings_window_proc;
    window_class.hInstance = static_cast<HINSTANCE>(program_instance);
    window_class.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    window_class.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_BTNFACE + 1));
    window_class.lpszClassName = SETTINGS_CLASS;
    RegisterClassA(&window_class);  // fails harmlessly when the class exists from an earlier call
}

// The window and its seventeen controls, in Tab order, filled from
// `settings`.
static HWND create_dialog(int first_run) {
    int x = (GetSystemMetrics(SM_CXSCREEN) - DIALOG_WIDTH) / 2;
    int y = (GetSystemMetrics(SM_CYSCREEN) - DIALOG_HEIGHT) / 2;
    HWND window = CreateWindowExA(WS_EX_DLGMODALFRAME | WS_EX_TOPMOST, SETTINGS_CLASS, SETTINGS_TITLE,
                                  WS_POPUP | WS_VISIBLE | WS_CAPTION | WS_SYSMENU, x, y, DIALOG_WIDTH, DIALOG_HEIGHT,
                                  nullptr, nullptr, static_cast<HINSTANCE>(program_instance), nullptr);
    if (window == nullptr) return nullptr;
    char port_text[16];
    char fps_text[16];
    format_text(port_text, sizeof port_text, "%d", settings.port);
    format_text(fps_text, sizeof fps_text, "%d", settings.fps);

    add_dialog_control("STATIC", "IP till server (RIRIZO eller ZORIDUVI):", 0, 12, 10, 300, 16, window, 0);
    host_field = add_dialog_control("EDIT", settings.host, WS_TABSTOP | ES_AUTOHSCROLL, 12, 28, 200, 22, window,
                                    ID_HOST);
    add_dialog_control("STATIC", "Port:", 0, 222, 10, 60, 16, window, 0);
    port_field = add_dialog_control("EDIT", port_text, WS_TABSTOP, 222, 28, 86, 22, window, ID_PORT);
    add_dialog_control("STATIC", "Datorns namn:", 0, 12, 58, 140, 16, window, 0);
    namn_field = add_dialog_control("EDIT", settings.namn, WS_TABSTOP, 12, 76, 140, 22, window, ID_NAMN);
    add_dialog_control("STATIC", "Nyckel (om servern kr\xE4ver):", 0, 160, 58, 150, 16, window, 0);
    nyckel_field = add_dialog_control("EDIT", settings.nyckel, WS_TABSTOP | ES_PASSWORD, 160, 76, 148, 22, window,
                                      ID_NYCKEL);
    add_dialog_control("STATIC", "Uppl\xF6sning:", 0, 12, 106, 120, 16, window, 0);
    resolution_list = add_dialog_control("COMBOBOX", "", WS_TABSTOP | WS_VSCROLL | CBS_DROPDOWNLIST, 12, 124, 140,
                                         120, window, ID_RESOLUTION);
    add_dialog_control("STATIC", "Bilder/s:", 0, 170, 106, 80, 16, window, 0);
    fps_field = add_dialog_control("EDIT", fps_text, WS_TABSTOP, 170, 124, 60, 22, window, ID_FPS);
    fullskarm_box = add_dialog_control("BUTTON", "Helsk\xE4rm", WS_TABSTOP | BS_AUTOCHECKBOX, 12, 158, 140, 20, window,
                                       ID_FULLSKARM);
    ljud_box = add_dialog_control("BUTTON", "Ljud", WS_TABSTOP | BS_AUTOCHECKBOX, 170, 158, 140, 20, window, ID_LJUD);
    add_dialog_control("STATIC", HELP_TEXT, 0, 12, 186, 300, 32, window, 0);
    add_dialog_control("BUTTON", "OK", WS_TABSTOP | BS_DEFPUSHBUTTON, 140, 226, 80, 26, window, IDOK);
    add_dialog_control("BUTTON", first_run ? "Avsluta" : "Avbryt", WS_TABSTOP, 228, 226, 80, 26, window, IDCANCEL);

    for (int i = 0; i < RESOLUTION_COUNT; i++) {
        SendMessageA(resolution_list, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(RESOLUTION_CHOICES[i].text));
    }
    SendMessageA(resolution_list, CB_SETCURSEL, static_cast<WPARAM>(resolution_position_for(settings.bredd)), 0);
    // The check states are handed over as they are; the boxes show 0 and 1.
    SendMessageA(fullskarm_box, BM_SETCHECK, static_cast<WPARAM>(settings.fullskarm), 0);
    SendMessageA(ljud_box, BM_SETCHECK, static_cast<WPARAM>(settings.ljud), 0);
    return window;
}

// Runs until dialog_result leaves 0 or the quit message arrives. Enter and
// Esc act wherever the focus is, also in the open resolution list, and
// before the dialog navigation sees them. Messages of other windows (the
// main window's timer and notifications) are dispatched as usual.
static void run_dialog_loop(HWND window) {
    MSG message;
    for (;;) {
        BOOL got = GetMessageA(&message, nullptr, 0, 0);
        if (got == 0) {
            // The quit message ends the dialog like a cancel; it is posted
            // again so that the main message loop ends as well.
            PostQuitMessage(static_cast<int>(message.wParam));
            return;
        }
        if (got == -1) return;  // a broken queue: cancel rather than spin
        if (message.message == WM_KEYDOWN && message.wParam == VK_RETURN) {
            dialog_result = DIALOG_CONFIRMED;
            return;
        }
        if (message.message == WM_KEYDOWN && message.wParam == VK_ESCAPE) {
            dialog_result = DIALOG_CANCELLED;
            return;
        }
        if (!IsDialogMessageA(window, &message)) {
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
        if (dialog_result != DIALOG_OPEN) return;
    }
}

static void store_confirmed_values() {
    char host[HOST_SIZE];
    char port[DIALOG_NUMBER_TEXT_SIZE];
    char namn[NAME_SIZE];
    char nyckel[NAME_SIZE];
    char fps[DIALOG_NUMBER_TEXT_SIZE];
    host[0] = port[0] = namn[0] = nyckel[0] = fps[0] = 0;
    GetWindowTextA(host_field, host, sizeof host);
    GetWindowTextA(port_field, port, sizeof port);
    GetWindowTextA(namn_field, namn, sizeof namn);
    GetWindowTextA(nyckel_field, nyckel, sizeof nyckel);
    GetWindowTextA(fps_field, fps, sizeof fps);

    DialogValues values;
    values.host = host;
    values.port = port;
    values.namn = namn;
    values.nyckel = nyckel;
    values.fps = fps;
    values.resolution = static_cast<int>(SendMessageA(resolution_list, CB_GETCURSEL, 0, 0));  // CB_ERR is -1
    values.fullskarm_checked = SendMessageA(fullskarm_box, BM_GETCHECK, 0, 0) == BST_CHECKED;
    values.ljud_checked = SendMessageA(ljud_box, BM_GETCHECK, 0, 0) == BST_CHECKED;
    store_dialog_values(&values);
    save_settings();
}

int run_settings_dialog(int first_run) {
    if (dialog_running) return 0;  // the one already open keeps going
    dialog_running = 1;
    HWND main_window = static_cast<HWND>(state.main_window);

    // From full screen, the dialog is shown on the desktop's own mode.
    if (!first_run && display_mode_changed) {
        restore_display_mode();
        ShowWindow(main_window, SW_MINIMIZE);
    }

    register_settings_class();
    HWND window = create_dialog(first_run);
    dialog_result = DIALOG_OPEN;
    if (window != nullptr) {
        SetFocus(host_field);
        run_dialog_loop(window);
    } else {
        // No window (no display to show it on): nobody could ever answer
        // the loop, so this counts as a cancel instead of waiting forever.
        dialog_result = DIALOG_CANCELLED;
    }

    if (dialog_result == DIALOG_CONFIRMED) store_confirmed_values();
    if (window != nullptr) DestroyWindow(window);

    // Back to full screen or the window, with the settings as they are now,
    // after a cancel as well. Not when the main window has gone meanwhile
    // (the program is ending): the mode would be changed for nobody.
    if (!first_run && IsWindow(main_window)) {
        ShowWindow(main_window, SW_RESTORE);
        apply_display_mode();
        SetForegroundWindow(main_window);
    }
    dialog_running = 0;
    return dialog_result == DIALOG_CONFIRMED ? 1 : 0;
}
