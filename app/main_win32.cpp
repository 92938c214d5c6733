// Start-up of the Windows program: an empty main window until the full
// start-up sequence replaces it.
#include <windows.h>

static LRESULT CALLBACK main_window_proc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
    if (message == WM_DESTROY) {
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcA(window, message, wparam, lparam);
}

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    WNDCLASSA window_class = {};
    window_class.lpfnWndProc = main_window_proc;
    window_class.hInstance = instance;
    window_class.hIcon = LoadIconA(instance, MAKEINTRESOURCEA(1));
    if (window_class.hIcon == nullptr) window_class.hIcon = LoadIconA(nullptr, IDI_APPLICATION);
    window_class.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    window_class.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    window_class.lpszClassName = "Quorvane";
    RegisterClassA(&window_class);
    HWND window = CreateWindowExA(0, "Quorvane", "Quorvane! 1.0.0", WS_OVERLAPPEDWINDOW | WS_VISIBLE,
                                  40, 40, 640, 480, nullptr, nullptr, instance, nullptr);
    if (window == nullptr) return 0;
    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    return 0;
}
