// The shared texts under text_lock, and the client's own formatter.
#include "core/client_text.h"

#include "core/client_state.h"

static void copy_cut(char* destination, int capacity, const char* text) {
    if (capacity <= 0) return;
    int i = 0;
    while (i < capacity - 1 && text[i] != 0) {
        destination[i] = text[i];
        i++;
    }
    destination[i] = 0;
}

void text_store(char* destination, int capacity, const char* text) {
    lock_enter(&state.text_lock);
    copy_cut(destination, capacity, text);
    lock_leave(&state.text_lock);
}

void text_load(char* destination, int capacity, const char* source) {
    lock_enter(&state.text_lock);
    copy_cut(destination, capacity, source);
    lock_leave(&state.text_lock);
}

namespace {
// Output cursor that never writes past capacity - 1.
struct Output {
    char* text;
    int capacity;
    int length;
};
}  // namespace

static void put_char(Output* out, char c) {
    if (out->length < out->capacity - 1) out->text[out->length++] = c;
}

static void put_unsigned(Output* out, unsigned long value, unsigned base) {
    char digits[24];
    int count = 0;
    do {
        unsigned digit = static_cast<unsigned>(value % base);
        digits[count++] = static_cast<char>(digit < 10 ? '0' + digit : 'a' + digit - 10);
        value /= base;
    } while (value != 0);
    while (count > 0) put_char(out, digits[--count]);
}

int format_text_v(char* destination, int capacity, const char* format, va_list arguments) {
    Output out = {destination, capacity, 0};
    if (capacity <= 0) return 0;
    for (const char* p = format; *p != 0; p++) {
        if (*p != '%') {
            put_char(&out, *p);
            continue;
        }
        const char* spec = p + 1;
        if (*spec == 's') {
            const char* s = va_arg(arguments, const char*);
            if (s == nullptr) s = "";
            while (*s != 0) put_char(&out, *s++);
            p = spec;
        } else if (*spec == 'd') {
            int value = va_arg(arguments, int);
            unsigned long magnitude = static_cast<unsigned long>(value);
            if (value < 0) {
                put_char(&out, '-');
                magnitude = 0ul - magnitude;
                magnitude &= 0xFFFFFFFFul;
            }
            put_unsigned(&out, magnitude, 10);
            p = spec;
        } else if (*spec == 'u') {
            put_unsigned(&out, va_arg(arguments, unsigned), 10);
            p = spec;
        } else if (*spec == 'x') {
            put_unsigned(&out, va_arg(arguments, unsigned), 16);
            p = spec;
        } else if (spec[0] == 'l' && spec[1] == 'u') {
            put_unsigned(&out, va_arg(arguments, unsigned long), 10);
            p = spec + 1;
        } else if (*spec == '%') {
            put_char(&out, '%');
            p = spec;
        } else {
            put_char(&out, '%');
        }
    }
    destination[out.length] = 0;
    return out.length;
}

int format_text(char* destination, int capacity, const char* format, ...) {
    va_list arguments;
    va_start(arguments, format);
    int length = format_text_v(destination, capacity, format, arguments);
    va_end(arguments);
    return length;
}
