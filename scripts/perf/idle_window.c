/* The smallest Win32 program with a window: what Wine itself costs in
   memory, as a baseline for the client's figures (scripts/perf/e2e_perf.py). */
#include <windows.h>

static LRESULT CALLBACK procedure(HWND window, UINT message, WPARAM w, LPARAM l) {
    if (message == WM_DESTROY) {
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcA(window, message, w, l);
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR command, int show) {
    WNDCLASSA c = {0};
    MSG message;
    (void)previous;
    (void)command;
    c.lpfnWndProc = procedure;
    c.hInstance = instance;
    c.lpszClassName = "IdleWindow";
    c.hbrBackground = (HBRUSH)GetStockObject(BLACK_BRUSH);
    RegisterClassA(&c);
    CreateWindowA("IdleWindow", "Idle window", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 640, 480, NULL, NULL,
                  instance, NULL);
    ShowWindow(FindWindowA("IdleWindow", NULL), show);
    while (GetMessageA(&message, NULL, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    return 0;
}
