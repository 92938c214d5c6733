// Full screen or window: the display mode of the main window (Windows only,
// app/display_win32.cpp). Window thread only.
#ifndef QV_CORE_DISPLAY_H
#define QV_CORE_DISPLAY_H

// 1 while the screen's display mode has been changed by apply_display_mode
// and must be restored; the settings dialog reads and clears it too.
extern int display_mode_changed;

// The program's instance handle (an HINSTANCE), kept at start-up for the
// settings dialog and the address bar.
extern void* program_instance;

// Puts the main window full screen (fullskarm nonzero: the screen switched
// to bredd x hojd at 16 bits per pixel, or at the current depth when that is
// refused) or in a window whose client area is exactly bredd x hojd with
// its outer top-left corner at (40, 40). Shows the window and repaints it.
void apply_display_mode();

// Gives the screen back its own mode, when it was changed.
void restore_display_mode();

#endif
