// The address bar: F6 while a web browser streams opens a one-line edit
// control at the top of the main window, pre-filled with the current web
// address. Enter sends the typed text to the server as WebAddress and keeps
// it as web_address; Esc closes the bar without sending. The control is a
// standard EDIT whose window procedure is replaced so that Enter and Esc can
// be caught. Window thread only.
#include <windows.h>

#include "core/client_state.h"
#include "core/client_text.h"
#include "core/display.h"
#include "input/input.h"
#include "link/wire.h"

// The open edit control, or none. While it is set the bar counts as open:
// the mouse is not locked and the keys go to the field.
static HWND address_bar;
// The edit control's own window procedure, to which every message not
// handled here is passed.
static WNDPROC address_bar_base_proc;
// The bar's font, made when the bar opens and deleted when it closes.
static HFONT address_bar_font;

enum {
    BAR_MARGIN = 4,
    BAR_HEIGHT = 24,
    BAR_FONT_HEIGHT = 17,
    BAR_TEXT_SIZE = 256,  // at most 255 characters are read on Enter
};

static HWND main_hwnd() { return static_cast<HWND>(state.main_window); }

// Destroys the bar and gives the keyboard back to the main window, which
// will receive the release of vk, the key that closed the bar. The mouse
// lock comes back on the main window's next timer tick.
static void close_address_bar(HWND window, uint32_t vk) {
    address_bar_closed_by_key(vk);
    DestroyWindow(window);
    address_bar = nullptr;
    if (address_bar_font != nullptr) {
        DeleteObject(address_bar_font);  // the control that used it is gone
        address_bar_font = nullptr;
    }
    SetFocus(main_hwnd());
}

// Enter: the field's text goes to the server (an empty field too, as the
// single byte 0) and becomes the current web address.
static void send_typed_address(HWND window) {
    char text[BAR_TEXT_SIZE];
    text[0] = 0;
    GetWindowTextA(window, text, BAR_TEXT_SIZE);
    text[BAR_TEXT_SIZE - 1] = 0;
    uint8_t payload[WEB_ADDRESS_MAX];
    int length = build_web_address(payload, text);
    send_message(MSG_WEB_ADDRESS, payload, static_cast<uint32_t>(length));
    text_store(state.web_address, WEB_ADDRESS_SIZE, text);
}

static LRESULT CALLBACK address_bar_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message == WM_KEYDOWN && wparam == VK_RETURN) {
        send_typed_address(window);
        close_address_bar(window, VK_RETURN);
        return 0;
    }
    if (message == WM_KEYDOWN && wparam == VK_ESCAPE) {
        close_address_bar(window, VK_ESCAPE);
        return 0;
    }
    // The characters of Enter and Esc would make the edit control beep.
    if (message == WM_CHAR && (wparam == 0x0D || wparam == 0x1B)) return 0;
    return CallWindowProcA(address_bar_base_proc, window, message, wparam, lparam);
}

void open_address_bar() {
    if (address_bar != nullptr) return;  // at most one bar
    set_mouse_lock(0);

    RECT client;
    GetClientRect(main_hwnd(), &client);
    // The address may change under us on the network thread: show a copy.
    char text[WEB_ADDRESS_SIZE];
    text_load(text, WEB_ADDRESS_SIZE, state.web_address);
    address_bar = CreateWindowExA(WS_EX_CLIENTEDGE, "EDIT", text, WS_CHILD | WS_VISIBLE | ES_AUTOHSCROLL,
                                  BAR_MARGIN, BAR_MARGIN, client.right - 2 * BAR_MARGIN, BAR_HEIGHT,
                                  main_hwnd(), nullptr, static_cast<HINSTANCE>(program_instance), nullptr);
    // Without a control the focus must stay where the keys still work.
    if (address_bar == nullptr) return;
    address_bar_font = CreateFontA(BAR_FONT_HEIGHT, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, ANSI_CHARSET, 0, 0, 0,
                                   0, "Arial");
    SendMessageA(address_bar, WM_SETFONT, reinterpret_cast<WPARAM>(address_bar_font), TRUE);
    address_bar_base_proc = reinterpret_cast<WNDPROC>(
        SetWindowLongA(address_bar, GWL_WNDPROC, reinterpret_cast<LONG>(address_bar_proc)));
    SendMessageA(address_bar, EM_SETSEL, 0, -1);  // typing replaces the address
    SetFocus(address_bar);
}

int address_bar_is_open() { return address_bar != nullptr ? 1 : 0; }
