// What a drawing list needs from a drawing surface, and the one routine that
// carries a list out on it. ui/paint_win32.cpp supplies a GDI surface; tests
// supply one that records every object made and given back. Window thread.
//
// Every font and brush the routine makes is given back before it returns:
// Windows 98 keeps the GDI objects of all programs in one small heap, and a
// paint that leaked one object would empty it within hours.
#ifndef QV_UI_CANVAS_H
#define QV_UI_CANVAS_H

#include <cstdint>

#include "ui/title_screen.h"

struct Canvas {
    void* surface;  // the device context (an HDC), passed back to every call
    // Makes the font of a DrawFont (FONT_TITLE, FONT_TEXT or FONT_PIN);
    // none (nullptr) when it cannot be made.
    void* (*create_font)(void* surface, int font);
    // Selects a font and returns the one it replaced.
    void* (*select_font)(void* surface, void* font);
    // Makes a solid brush of a colour (COLORREF); nullptr when it cannot.
    void* (*create_brush)(void* surface, uint32_t colour);
    // Fills left, top to right, bottom (exclusive) with a brush.
    void (*fill_rect)(void* surface, int32_t left, int32_t top, int32_t right, int32_t bottom,
                      void* brush);
    // Gives a font or brush back.
    void (*delete_object)(void* surface, void* object);
    // Draws a text at x, y in a colour with the selected font.
    void (*text_out)(void* surface, int32_t x, int32_t y, uint32_t colour, const char* text);
};

// Draws the list in order. Fonts are made when first needed, each once, and
// the surface's own font is selected again before they are all deleted at
// the end; each brush is made right before its fill and deleted right after.
// A font that cannot be made leaves the current one in use.
void run_draw_list(const DrawList* list, const Canvas* canvas);

#endif
