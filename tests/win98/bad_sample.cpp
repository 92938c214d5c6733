// A program that must fail the Windows 98 check, one fault of each kind, so
// that the check itself is shown to find them (tests/win98/self_test.py).
// Built for the Pentium Pro with mingw's own start-up code, as a console
// program with subsystem and OS version 5.1.
#include <windows.h>

// cmov: a maximum, compiled for the Pentium Pro.
extern "C" __attribute__((noinline)) int bad_pick(int a, int b) { return a > b ? a : b; }

// fcomi: a floating-point comparison for the Pentium Pro.
extern "C" __attribute__((noinline)) int bad_less(double a, double b) { return a < b; }

// SSE2: arithmetic on xmm registers.
extern "C" __attribute__((noinline, target("sse2,fpmath=sse"))) double bad_twice(double x) { return x * 2.5; }

// A global constructor that an entry point of our own would never run.
static DWORD started_at = GetTickCount();

int main(int argc, char**) {
    HKEY key = nullptr;
    RegCloseKey(key);                                     // a DLL Windows 98 programs may not use here
    ULONGLONG now = GetTickCount64();                     // not in Windows 98's KERNEL32
    int order = CompareStringW(0, 0, L"a", 1, L"b", 1);   // only a stub on Windows 98
    return bad_pick(argc, static_cast<int>(now - started_at)) + bad_less(argc, 2.0) +
           static_cast<int>(bad_twice(argc)) + order;
}
