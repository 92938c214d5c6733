// Our own reader and writer of the initialization-file form, for the native
// build. It follows what the private-profile functions do with such files:
//
//   [Section]          a section line: the name between '[' and the last ']',
//                      blanks around it ignored, anything after ']' ignored
//   key = value        blanks around key and value ignored; a value in
//                      matching quotes ("..." or '...') loses them
//   anything else      a line of its own (comments, blank lines, garbage)
//
// Lines end at '\n'; a '\r' before it is a blank. Names match without regard
// to ASCII letter case and end at a NUL byte, as C strings do. When a section
// or key appears twice, the first one counts. A key without '=' reads as
// missing. Writing replaces the key's line where it stands, or adds the key
// after the section's last non-blank line, or adds the section at the end of
// the file; every other byte of the file stays as it was.
//
// The whole file is read into memory, at most PROFILE_FILE_LIMIT bytes (the
// platform's own limit for such files is far smaller). A longer file is read
// up to the limit and never written, so that saving cannot lose its tail.
// A write goes to a temporary file that then replaces the original, so a
// failed write leaves the old file whole.
#include "settings/profile.h"
#include "settings/profile_posix.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

enum {
    PROFILE_FILE_LIMIT = 1 << 20,
    // Integers are read from at most this many characters of the value, as
    // the platform reads them through a small text buffer.
    PROFILE_INT_CHARS = 29,
};

namespace {

struct FileText {
    char* data;        // malloc'd, or null when empty
    size_t length;
    int exists;        // the file could be opened
    int over_limit;    // longer than PROFILE_FILE_LIMIT: read in part, never written
};

// Where a key stands in the file, as found by locate().
struct Location {
    int section_found;
    int key_found;
    size_t line_start, content_end;   // the key's line, without its line end
    size_t key_begin, key_end;        // the key's name as spelled in the file
    int has_value;
    size_t value_begin, value_end;    // trimmed, quotes not yet removed
    size_t insert_at;                 // where a new key of the section goes
    int insert_needs_newline;         // insert_at is the end of an unterminated last line
};

}  // namespace

static int computer_name_fails;

void profile_test_fail_computer_name(int fail) { computer_name_fails = fail; }

static int is_blank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

static char lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

// Compares data[begin, end), read as a C string (up to a NUL), with name.
static int name_matches(const char* data, size_t begin, size_t end, const char* name) {
    size_t i = 0;
    while (begin + i < end && data[begin + i] != 0) {
        if (name[i] == 0 || lower(data[begin + i]) != lower(name[i])) return 0;
        i++;
    }
    return name[i] == 0;
}

// The settings path is a Windows path; here a backslash separates folders
// as '/' does (".\\QUORVANE.INI" is the current folder's file). Returns a
// malloc'd copy, or null when memory is short.
static char* native_path(const char* path, const char* suffix) {
    size_t length = std::strlen(path), extra = std::strlen(suffix);
    char* copy = static_cast<char*>(std::malloc(length + extra + 1));
    if (copy == nullptr) return nullptr;
    for (size_t i = 0; i < length; i++) copy[i] = path[i] == '\\' ? '/' : path[i];
    std::memcpy(copy + length, suffix, extra + 1);
    return copy;
}

static void read_file(const char* windows_path, FileText* out) {
    out->data = nullptr;
    out->length = 0;
    out->exists = 0;
    out->over_limit = 0;
    char* path = native_path(windows_path, "");
    if (path == nullptr) {
        out->exists = 1;
        out->over_limit = 1;  // cannot be looked at: treat as untouchable
        return;
    }
    FILE* f = std::fopen(path, "rb");
    std::free(path);
    if (f == nullptr) return;
    out->exists = 1;
    // Room for the file as it is (every key read reads it again, and a
    // settings file is a few hundred bytes), or for the limit and one byte
    // more, which tells a longer file, when its size cannot be had.
    size_t room = PROFILE_FILE_LIMIT + 1;
    if (std::fseek(f, 0, SEEK_END) == 0) {
        long end = std::ftell(f);
        if (end >= 0 && end < static_cast<long>(PROFILE_FILE_LIMIT)) room = static_cast<size_t>(end) + 1;
    }
    std::rewind(f);
    char* data = static_cast<char*>(std::malloc(room));
    if (data == nullptr) {
        std::fclose(f);
        out->over_limit = 1;  // cannot be looked at: treat as untouchable
        return;
    }
    size_t total = std::fread(data, 1, room, f);
    if (total == room && room < PROFILE_FILE_LIMIT + 1u) {
        // The file grew since its size was taken: read on, up to the limit.
        char* larger = static_cast<char*>(std::realloc(data, PROFILE_FILE_LIMIT + 1));
        if (larger == nullptr) {
            std::free(data);
            std::fclose(f);
            out->over_limit = 1;
            return;
        }
        data = larger;
        total += std::fread(data + total, 1, PROFILE_FILE_LIMIT + 1 - total, f);
    }
    if (std::ferror(f)) out->over_limit = 1;
    std::fclose(f);
    if (total > PROFILE_FILE_LIMIT) {
        // Keep whole lines only: a line cut in its middle is not read.
        out->over_limit = 1;
        total = PROFILE_FILE_LIMIT;
        while (total > 0 && data[total - 1] != '\n') total--;
    }
    out->data = data;
    out->length = total;
}

static void trim(const char* data, size_t* begin, size_t* end) {
    while (*begin < *end && is_blank(data[*begin])) (*begin)++;
    while (*end > *begin && is_blank(data[*end - 1])) (*end)--;
}

// Finds the first section named `section` and in it the first line whose
// key is `key`.
static void locate(const FileText& file, const char* section, const char* key, Location* loc) {
    std::memset(loc, 0, sizeof *loc);
    const char* data = file.data;
    int in_section = 0;
    size_t pos = 0;
    while (pos < file.length) {
        size_t line_end = pos;
        while (line_end < file.length && data[line_end] != '\n') line_end++;
        size_t next = line_end < file.length ? line_end + 1 : line_end;
        size_t content_end = line_end;
        if (content_end > pos && data[content_end - 1] == '\r') content_end--;

        size_t b = pos, e = line_end;
        trim(data, &b, &e);
        size_t close = e;
        if (b < e && data[b] == '[') {
            while (close > b && data[close - 1] != ']') close--;
            if (close > b + 1) close--;  // at the ']'
            else close = b;              // no ']': not a section line
        }
        if (b < e && data[b] == '[' && close > b) {
            if (in_section) return;  // the first section of that name has ended
            size_t nb = b + 1, ne = close;
            trim(data, &nb, &ne);
            if (!loc->section_found && name_matches(data, nb, ne, section)) {
                loc->section_found = 1;
                in_section = 1;
                loc->insert_at = next;
                loc->insert_needs_newline = next == line_end;
            }
        } else if (in_section && b < e) {
            loc->insert_at = next;
            loc->insert_needs_newline = next == line_end;
            if (!loc->key_found) {
                size_t eq = b;
                while (eq < e && data[eq] != '=') eq++;
                size_t kb = b, ke = eq;
                trim(data, &kb, &ke);
                if (name_matches(data, kb, ke, key)) {
                    loc->key_found = 1;
                    loc->line_start = pos;
                    loc->content_end = content_end;
                    loc->key_begin = kb;
                    loc->key_end = ke;
                    loc->has_value = eq < e;
                    loc->value_begin = eq < e ? eq + 1 : e;
                    loc->value_end = e;
                    trim(data, &loc->value_begin, &loc->value_end);
                }
            }
        }
        pos = next;
    }
}

// The value of the key as a C string range, quotes removed; 0 when the key
// is missing or has no '='.
static int key_value(const FileText& file, const char* section, const char* key,
                     size_t* begin, size_t* end) {
    Location loc;
    locate(file, section, key, &loc);
    if (!loc.key_found || !loc.has_value) return 0;
    size_t b = loc.value_begin, e = loc.value_end;
    if (e - b >= 2 && (file.data[b] == '"' || file.data[b] == '\'') && file.data[e - 1] == file.data[b]) {
        b++;
        e--;
    }
    for (size_t i = b; i < e; i++) {
        if (file.data[i] == 0) {
            e = i;
            break;
        }
    }
    *begin = b;
    *end = e;
    return 1;
}

static int copy_cut(char* out, int size, const char* text, size_t length) {
    if (size <= 0) return 0;
    size_t n = length < static_cast<size_t>(size - 1) ? length : static_cast<size_t>(size - 1);
    std::memcpy(out, text, n);
    out[n] = 0;
    return static_cast<int>(n);
}

int profile_read_text(const char* section, const char* key, const char* fallback,
                      char* out, int size, const char* path) {
    if (size <= 0) return 0;
    FileText file;
    read_file(path, &file);
    size_t b = 0, e = 0;
    int n;
    if (file.data != nullptr && key_value(file, section, key, &b, &e)) {
        n = copy_cut(out, size, file.data + b, e - b);
    } else {
        n = copy_cut(out, size, fallback, std::strlen(fallback));
    }
    std::free(file.data);
    return n;
}

int32_t profile_read_int(const char* section, const char* key, int32_t fallback, const char* path) {
    char text[PROFILE_INT_CHARS + 1];
    if (profile_read_text(section, key, "", text, sizeof text, path) == 0) return fallback;
    // Blanks, one sign, then decimal digits up to the first other character;
    // the value wraps modulo 2^32 like the platform's conversion.
    const char* p = text;
    while (is_blank(*p)) p++;
    int negative = 0;
    if (*p == '+' || *p == '-') negative = *p++ == '-';
    uint32_t value = 0;
    while (*p >= '0' && *p <= '9') value = value * 10u + static_cast<uint32_t>(*p++ - '0');
    if (negative) value = 0u - value;
    return static_cast<int32_t>(value);
}

// Writes the whole new text to path through a temporary file.
static int replace_file(const char* windows_path, const char* const* parts, const size_t* lengths,
                        int count) {
    char* path = native_path(windows_path, "");
    char* temporary = native_path(windows_path, ".qvtmp");
    int ok = path != nullptr && temporary != nullptr;
    FILE* f = ok ? std::fopen(temporary, "wb") : nullptr;
    ok = f != nullptr;
    for (int i = 0; ok && i < count; i++) {
        if (lengths[i] > 0 && std::fwrite(parts[i], 1, lengths[i], f) != lengths[i]) ok = 0;
    }
    if (f != nullptr && std::fclose(f) != 0) ok = 0;
    if (ok && std::rename(temporary, path) != 0) ok = 0;
    if (!ok && f != nullptr) std::remove(temporary);  // only a file this call made
    std::free(temporary);
    std::free(path);
    return ok;
}

int profile_write_text(const char* section, const char* key, const char* value, const char* path) {
    FileText file;
    read_file(path, &file);
    if (file.over_limit || (file.exists && file.data == nullptr)) {
        std::free(file.data);
        return 0;
    }
    const char* data = file.data != nullptr ? file.data : "";

    // New lines take the file's own line end: CR LF unless its first line
    // ends in a bare LF.
    const char* eol = "\r\n";
    for (size_t i = 0; i < file.length; i++) {
        if (data[i] == '\n') {
            if (i == 0 || data[i - 1] != '\r') eol = "\n";
            break;
        }
    }

    Location loc;
    locate(file, section, key, &loc);
    const char* parts[12];
    size_t lengths[12];
    int count = 0;
    auto add = [&](const char* text, size_t length) {
        parts[count] = text;
        lengths[count] = length;
        count++;
    };
    if (loc.key_found) {
        // The key keeps its spelling and place; the rest of the line goes.
        add(data, loc.line_start);
        add(data + loc.key_begin, loc.key_end - loc.key_begin);
        add("=", 1);
        add(value, std::strlen(value));
        add(data + loc.content_end, file.length - loc.content_end);
    } else if (loc.section_found) {
        add(data, loc.insert_at);
        if (loc.insert_needs_newline) add(eol, std::strlen(eol));
        add(key, std::strlen(key));
        add("=", 1);
        add(value, std::strlen(value));
        add(eol, std::strlen(eol));
        add(data + loc.insert_at, file.length - loc.insert_at);
    } else {
        add(data, file.length);
        if (file.length > 0 && data[file.length - 1] != '\n') add(eol, std::strlen(eol));
        add("[", 1);
        add(section, std::strlen(section));
        add("]", 1);
        add(eol, std::strlen(eol));
        add(key, std::strlen(key));
        add("=", 1);
        add(value, std::strlen(value));
        add(eol, std::strlen(eol));
    }
    int ok = replace_file(path, parts, lengths, count);
    std::free(file.data);
    return ok;
}

int program_path(char* out, int size) {
    if (size <= 1) return 0;
    ssize_t n = readlink("/proc/self/exe", out, static_cast<size_t>(size - 1));
    if (n <= 0 || n >= size - 1) {
        out[0] = 0;
        return 0;  // failed, or possibly cut
    }
    out[n] = 0;
    return static_cast<int>(n);
}

int computer_name(char* out, int size) {
    if (size <= 0 || computer_name_fails) return 0;
    char name[256];
    if (gethostname(name, sizeof name) != 0) return 0;
    name[sizeof name - 1] = 0;
    size_t length = std::strlen(name);
    if (length == 0 || length >= static_cast<size_t>(size)) return 0;
    std::memcpy(out, name, length + 1);
    return static_cast<int>(length);
}
