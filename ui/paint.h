// Painting the main window (ui/paint_win32.cpp). Window thread only.
#ifndef QV_UI_PAINT_H
#define QV_UI_PAINT_H

#include <cstdint>

// Draws the whole client area of the main window on `dc` (an HDC of it):
// the remote picture, 1:1 or stretched to the window, or the title screen;
// then the statistics line when it is on. Every font and brush made here is
// deleted before it returns. The caller releases or ends the DC.
void paint_screen(void* dc);

// Draws text at (x, y) in colour (a COLORREF) with the DC's current font
// and background mode.
void draw_text(void* dc, int32_t x, int32_t y, uint32_t colour, const char* text);

#endif
