// Carrying out a drawing list on a surface, with every object given back.
#include "ui/canvas.h"

namespace {
// The fonts of one run, made when first needed.
struct RunFonts {
    void* font[4];   // by DrawFont; font[FONT_DEFAULT] stays none
    void* original;  // the surface's own font, selected again at the end
    int selected;    // DrawFont now selected; -1 while the surface's own is
};
}  // namespace

static void select_font(const Canvas* canvas, RunFonts* fonts, int which) {
    if (fonts->selected == which) return;
    if (which == FONT_DEFAULT && fonts->selected < 0) return;  // still the surface's own
    void* font = fonts->original;
    if (which != FONT_DEFAULT) {
        if (fonts->font[which] == nullptr) fonts->font[which] = canvas->create_font(canvas->surface, which);
        font = fonts->font[which];
        if (font == nullptr) return;  // keep drawing with what is selected
    }
    void* previous = canvas->select_font(canvas->surface, font);
    if (fonts->selected < 0) fonts->original = previous;
    fonts->selected = which;
}

static void fill(const Canvas* canvas, const DrawOp* op) {
    void* brush = canvas->create_brush(canvas->surface, op->colour);
    if (brush == nullptr) return;
    canvas->fill_rect(canvas->surface, op->x, op->y, op->right, op->bottom, brush);
    canvas->delete_object(canvas->surface, brush);
}

void run_draw_list(const DrawList* list, const Canvas* canvas) {
    RunFonts fonts = {{nullptr, nullptr, nullptr, nullptr}, nullptr, -1};
    for (int i = 0; i < list->count; i++) {
        const DrawOp* op = &list->ops[i];
        if (op->kind == DRAW_FILL) {
            fill(canvas, op);
        } else {
            int which = op->font <= FONT_PIN ? static_cast<int>(op->font) : static_cast<int>(FONT_DEFAULT);
            select_font(canvas, &fonts, which);
            canvas->text_out(canvas->surface, op->x, op->y, op->colour, op->text);
        }
    }
    // A font is deleted only once it is no longer selected.
    if (fonts.selected >= 0) canvas->select_font(canvas->surface, fonts.original);
    for (int f = FONT_TITLE; f <= FONT_PIN; f++) {
        if (fonts.font[f] != nullptr) canvas->delete_object(canvas->surface, fonts.font[f]);
    }
}
