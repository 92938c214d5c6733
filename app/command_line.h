// The command line as the program's own entry point receives it.
#ifndef QV_APP_COMMAND_LINE_H
#define QV_APP_COMMAND_LINE_H

// Returns the part of the full command line (GetCommandLineA's text) that
// follows the program's name and the blanks (spaces, tabs) after it. The
// name may be quoted ("C:\Program Files\q.exe") or not; a quote that is never
// closed takes the rest of the line. Blanks at the end of the arguments stay
// part of them. Never returns NULL: for a NULL line it returns "".
const char* command_line_arguments(const char* command_line);

#endif
