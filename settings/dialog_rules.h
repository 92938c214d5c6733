// The settings dialog's rules that need no window: the resolution list,
// the conversions of the typed numbers, and storing a confirmed dialog into
// the settings record. The dialog window itself reads its controls and
// hands the texts here.
#ifndef QV_SETTINGS_DIALOG_RULES_H
#define QV_SETTINGS_DIALOG_RULES_H

#include <cstdint>

enum {
    RESOLUTION_COUNT = 3,
    DIALOG_NUMBER_TEXT_SIZE = 64,  // port and frame-rate fields: at most 63 characters read
};

// One entry of the resolution list; the position picks bredd and hojd.
struct ResolutionChoice {
    const char* text;  // Windows-1252
    int32_t bredd;
    int32_t hojd;
};
extern const ResolutionChoice RESOLUTION_CHOICES[RESOLUTION_COUNT];

// The list position shown for a picture width: 320 -> 1, 800 -> 2, else 0
// (only the width is looked at).
int resolution_position_for(int32_t bredd);
// The size at a list position; anything that is not a position (no
// selection reports -1) counts as position 0.
void resolution_at_position(int position, int32_t* bredd, int32_t* hojd);

// A typed number read as C's decimal conversion does: leading blanks, one
// optional sign, digits up to the first other character; no digits give 0.
// Values beyond the 32-bit range stop at its ends instead of overflowing.
int32_t dialog_text_to_int(const char* text);
// The port field: a result of 0 or less becomes 3300; no upper bound.
int32_t dialog_port_value(const char* text);
// The frame-rate field: a result outside 5..60 becomes 30.
int32_t dialog_fps_value(const char* text);

// What the dialog read back from its controls on confirmation. The texts
// are the controls' texts; they are cut here to what each field holds.
struct DialogValues {
    const char* host;        // field 2
    const char* port;        // field 4
    const char* namn;        // field 6
    const char* nyckel;      // field 8
    const char* fps;         // field 12
    int resolution;          // the list's selected position, -1 for none
    int fullskarm_checked;   // check box 13
    int ljud_checked;        // check box 14
};

// Stores a confirmed dialog into `settings` under settings_lock, in the
// dialog's order: host, port, namn, nyckel, fps, bredd and hojd, fullskarm,
// ljud. The keys the dialog does not show are left as they are. Does not
// save: the caller calls save_settings next.
void store_dialog_values(const DialogValues* values);

#endif
