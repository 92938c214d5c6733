// The program's own entry point, in place of the C runtime's start-up code.
//
// The runtime's start-up (and its helpers for pseudo-relocations and PE
// sections) is built for newer processors and holds instructions that a
// Pentium MMX, K6-2 or Cyrix lacks, so the program would stop before WinMain.
// This entry does the little the client needs: find the command-line text,
// call WinMain, end the process with its result. No global constructors or
// destructors are run, which is why the client has none.
#include <windows.h>

#include "app/command_line.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE previous, LPSTR command_line, int show);

// Windows 9x enters with the stack aligned to 4 bytes only.
extern "C" __attribute__((force_align_arg_pointer, noreturn)) void quorvane_entry() {
    LPSTR arguments = const_cast<LPSTR>(command_line_arguments(GetCommandLineA()));
    int result = WinMain(GetModuleHandleA(nullptr), nullptr, arguments, SW_SHOWDEFAULT);
    ExitProcess(static_cast<UINT>(result));
}
