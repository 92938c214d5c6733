// Unfit for Windows 98 on an i586 in every way the check looks for (see its CMake flags).
#include <windows.h>
extern "C" __attribute__((noinline)) int bad_pick(int a, int b) { return a > b ? a : b; }       // cmov
extern "C" __attribute__((noinline)) int bad_less(double a, double b) { return a < b; }         // fcomi
extern "C" __attribute__((noinline, target("sse2,fpmath=sse"))) double bad_twice(double x) { return x * 2.5; }
static DWORD started_at = GetTickCount();   // a global constructor
int main(int argc, char**) {
    RegCloseKey(nullptr);                                 // ADVAPI32
    ULONGLONG now = GetTickCount64();                     // not in Windows 98's KERNEL32
    int order = CompareStringW(0, 0, L"a", 1, L"b", 1);   // a failing stub there
    return bad_pick(argc, static_cast<int>(now - started_at)) + bad_less(argc, 2.0) +
           static_cast<int>(bad_twice(argc)) + order;
}
