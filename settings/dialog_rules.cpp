// The settings dialog's portable rules: resolution list, number fields and
// storing a confirmed dialog.
#include "settings/dialog_rules.h"

#include <cstring>

#include "settings/settings.h"

const ResolutionChoice RESOLUTION_CHOICES[RESOLUTION_COUNT] = {
    {"640 x 480 (standard)", 640, 480},
    {"320 x 240 (sn\xE5l)", 320, 240},
    {"800 x 600", 800, 600},
};

int resolution_position_for(int32_t bredd) {
    if (bredd == 320) return 1;
    if (bredd == 800) return 2;
    return 0;
}

void resolution_at_position(int position, int32_t* bredd, int32_t* hojd) {
    if (position < 0 || position >= RESOLUTION_COUNT) position = 0;
    *bredd = RESOLUTION_CHOICES[position].bredd;
    *hojd = RESOLUTION_CHOICES[position].hojd;
}

// Reads at most `limit` characters of text.
static int32_t text_to_int(const char* text, int limit) {
    int i = 0;
    while (i < limit && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) i++;
    int negative = 0;
    if (i < limit && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    // The magnitude stops at the largest the sign allows (2^31 - 1, or 2^31
    // for a negative number), so nothing overflows however long the digits.
    const uint32_t most = negative ? 2147483648u : 2147483647u;
    uint32_t magnitude = 0;
    while (i < limit && text[i] >= '0' && text[i] <= '9') {
        uint32_t digit = static_cast<uint32_t>(text[i] - '0');
        if (magnitude > (most - digit) / 10u) {
            magnitude = most;
        } else {
            magnitude = magnitude * 10u + digit;
        }
        i++;
    }
    if (negative) return static_cast<int32_t>(0u - magnitude);
    return static_cast<int32_t>(magnitude);
}

int32_t dialog_text_to_int(const char* text) { return text_to_int(text, 0x7FFFFFFF); }

// The number fields are read with room for 63 characters.
static int32_t field_to_int(const char* text) { return text_to_int(text, DIALOG_NUMBER_TEXT_SIZE - 1); }

static int32_t port_rule(int32_t value) { return value <= 0 ? 3300 : value; }
static int32_t fps_rule(int32_t value) { return (value < 5 || value > 60) ? 30 : value; }

int32_t dialog_port_value(const char* text) { return port_rule(field_to_int(text)); }
int32_t dialog_fps_value(const char* text) { return fps_rule(field_to_int(text)); }

// Copies at most size - 1 characters and terminates.
static void copy_cut(char* destination, int size, const char* text) {
    int i = 0;
    while (i < size - 1 && text[i] != 0) {
        destination[i] = text[i];
        i++;
    }
    destination[i] = 0;
}

void store_dialog_values(const DialogValues* values) {
    const int32_t port = dialog_port_value(values->port);
    const int32_t fps = dialog_fps_value(values->fps);
    int32_t bredd, hojd;
    resolution_at_position(values->resolution, &bredd, &hojd);

    lock_enter(&settings_lock);
    copy_cut(settings.host, HOST_SIZE, values->host);
    settings.port = port;
    copy_cut(settings.namn, NAME_SIZE, values->namn);
    copy_cut(settings.nyckel, NAME_SIZE, values->nyckel);
    settings.fps = fps;
    settings.bredd = bredd;
    settings.hojd = hojd;
    settings.fullskarm = values->fullskarm_checked ? 1 : 0;
    settings.ljud = values->ljud_checked ? 1 : 0;
    lock_leave(&settings_lock);
}
