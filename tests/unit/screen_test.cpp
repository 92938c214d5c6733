// The title screen and statistics line; every font and brush made is given back.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <string>

#include "core/client_state.h"
#include "media/frame_buffer.h"
#include "tests/support/client_fixture.h"
#include "ui/canvas.h"
#include "ui/title_screen.h"

namespace {

// One line per step: "F left top right bottom r.g.b" or "T x y r.g.b fFONT text",
// the long fixed texts by name.
std::string dump(const DrawList& list) {
    const std::map<std::string, std::string> names = {{TITLE_TEXT, "<title>"}, {TAG_LINE_TEXT, "<tag>"},
        {WAITING_TEXT, "<waiting>"}, {PIN_PROMPT_TEXT, "<prompt>"}, {HELP_TEXT, "<help>"}};
    std::string out;
    for (int i = 0; i < list.count; i++) {
        const DrawOp& op = list.ops[i];
        char line[400];
        std::string colour = std::to_string(op.colour & 255) + "." + std::to_string((op.colour >> 8) & 255) +
                             "." + std::to_string(op.colour >> 16);
        auto named = names.find(op.text);
        if (op.kind == DRAW_FILL)
            std::snprintf(line, sizeof line, "F %d %d %d %d %s\n", op.x, op.y, op.right, op.bottom, colour.c_str());
        else
            std::snprintf(line, sizeof line, "T %d %d %s f%d %s\n", op.x, op.y, colour.c_str(), op.font,
                          named == names.end() ? op.text : named->second.c_str());
        out += line;
    }
    return out;
}

const char* const HEAD = "F 0 0 640 480 12.10.24\nT 34 26 120.20.10 f1 <title>\n"
                         "T 30 22 255.90.40 f1 <title>\nT 34 72 150.150.190 f2 <tag>\n";
const char* const FOOT = "T 40 416 255.200.120 f2 \nT 40 442 110.110.140 f2 <help>\n";

class Screen : public ::testing::Test {
protected:
    void SetUp() override {
        fresh_client_state();
        draw_list_clear(&list);
    }
    void add_entry(uint8_t kind, const char* name) {
        int32_t i = state.app_count.load();
        state.apps[i].id = uint16_t(i);
        state.apps[i].kind = kind;
        std::strcpy(state.apps[i].name, name);
        state.app_count.store(i + 1);
    }
    std::string title_screen() {
        draw_list_clear(&list);
        build_title_screen(&list, 640, 480);
        build_stats_line(&list);
        return dump(list);
    }
    DrawList list;
};

}  // namespace

TEST_F(Screen, TextsOfTheTitleScreen) {
    EXPECT_STREQ(TITLE_TEXT, "Quorvane!");
    EXPECT_STREQ(TAG_LINE_TEXT, "str\xF6mma moderna program till din retrodator");
    EXPECT_STREQ(WAITING_TEXT, "V\xE4ntar p\xE5 applistan ...");
    EXPECT_STREQ(PIN_PROMPT_TEXT, "Skriv in den h\xE4r PIN-koden i Sunshine/Apollo (webbgr\xE4nssnittet, fliken PIN):");
    EXPECT_STREQ(HELP_TEXT, "Pil upp/ned + Enter startar.  F8 mus  F9 meny  F10 inst\xE4llningar  F11 info  F12 avsluta");
    const char* labels[] = {"[program]", "[sk\xE4rm]", "[f\xF6nster]", "[webb]", "[moonlight]", "[program]"};
    for (int kind = 0; kind < 6; kind++) EXPECT_STREQ(kind_label(kind), labels[kind]);
    char line[DRAW_TEXT_SIZE];
    format_stats_line(line, sizeof line, 0, 4294967295u, 7, 1024, 768, 2);
    EXPECT_STREQ(line, " 0 bilder/s  4294967295 kB/s  ping 7 ms  1024x768 pekare");
}

TEST_F(Screen, WhatEachStateShows) {
    add_entry(0, "Hidden");  // a list without a link is not shown
    std::strcpy(state.status_text, "Ansluter ...");
    EXPECT_EQ(title_screen(), std::string(HEAD) + "T 40 416 255.200.120 f2 Ansluter ...\nT 40 442 110.110.140 f2 <help>\n");
    state.status_text[0] = 0;
    state.connected.store(1);
    state.app_count.store(0);
    EXPECT_EQ(title_screen(), std::string(HEAD) + "T 40 120 200.200.200 f2 <waiting>\n" + FOOT);
    add_entry(APP_KIND_SCREEN, "Sk\xE4rm");
    add_entry(APP_KIND_WINDOW, "F\xF6nster");
    add_entry(7, "Ok\xE4nd");
    state.app_selected.store(1);
    std::strcpy(state.pin_text, "4711");
    state.show_stats.store(1);
    state.stat_fps.store(25);
    state.stat_kbps.store(412);
    state.ping_ms.store(3);
    EXPECT_EQ(title_screen(), std::string(HEAD) +
        "T 40 120 255.255.255 f2 Sk\xE4rm\nT 500 120 120.120.150 f2 [sk\xE4rm]\n"
        "F 26 144 614 168 170.40.20\nT 40 146 255.255.255 f2 F\xF6nster\nT 500 146 255.220.200 f2 [f\xF6nster]\n"
        "T 40 172 255.255.255 f2 Ok\xE4nd\nT 500 172 120.120.150 f2 [program]\n"
        "T 40 330 255.220.120 f2 <prompt>\nT 40 355 255.255.0 f3 4711\n" + FOOT +
        "F 0 0 330 18 0.0.0\nT 2 1 0.255.0 f0  25 bilder/s  412 kB/s  ping 3 ms  640x480 l\xE5st mus\n");
    for (int i = 3; i < 64; i++) add_entry(0, std::string(APP_NAME_SIZE - 1, 'N').c_str());
    state.apps[62].name[APP_NAME_SIZE - 1] = 'N';  // no terminator: still drawn to its 63rd character only
    const std::string full = title_screen(), n(APP_NAME_SIZE - 1, 'N');
    EXPECT_NE(full.find("f2 " + n + "\nT 500 1732 120.120.150 f2 [program]\nT 40 1758 255.255.255 f2 " + n + "\n"), full.npos);
    EXPECT_NE(full.find("T 2 1 0.255.0 f0"), std::string::npos);
    std::memset(state.status_text, 'S', STATUS_TEXT_SIZE - 1);  // the longest status line is drawn whole,
    state.status_text[1] = '\x01';                                // control bytes and all
    state.show_stats.store(0);
    EXPECT_NE(title_screen().find("f2 S\x01" + std::string(STATUS_TEXT_SIZE - 3, 'S') + "\n"), std::string::npos);
    draw_list_clear(&list), build_stats_line(&list);
    EXPECT_EQ(list.count, 0);
}

TEST_F(Screen, PictureOnlyWhileStreamingADecodedFrame) {
    create_frame_buffer(64, 48);
    const int cases[][3] = {{0, 1, 0}, {1, 0, 0}, {1, 1, 1}, {2, 1, 0}};
    for (const auto& c : cases) {
        state.stream_mode.store(c[0]);
        state.frame_valid.store(c[1]);
        EXPECT_EQ(picture_shown(), c[2]) << c[0] << c[1];
    }
    create_frame_buffer(0, 0);  // a failed creation leaves no picture
    EXPECT_EQ(picture_shown(), 0);
}

struct Recorder {
    intptr_t next = 100, original = 1, selected = 1;
    std::map<intptr_t, char> alive;  // 'f' font or 'b' brush, made and not deleted
    std::map<intptr_t, int> font_kind;
    std::string log;                 // f made font, b made brush, F fill, T text, d deleted, ! a fault
    std::map<std::string, int> text_font;
    int fail_font = -1;
    bool fail_brush = false;
};
Recorder* rec(void* s) { return static_cast<Recorder*>(s); }
void* create_font(void* s, int font) {
    rec(s)->log += 'f';
    if (font == rec(s)->fail_font) return nullptr;
    rec(s)->alive[rec(s)->next] = 'f';
    rec(s)->font_kind[rec(s)->next] = font;
    return reinterpret_cast<void*>(rec(s)->next++);
}
void* select_font(void* s, void* font) {
    if (font == nullptr) rec(s)->log += '!';  // no font to select
    intptr_t previous = rec(s)->selected;
    rec(s)->selected = reinterpret_cast<intptr_t>(font);
    return reinterpret_cast<void*>(previous);
}
void* create_brush(void* s, uint32_t) {
    rec(s)->log += 'b';
    if (rec(s)->fail_brush) return nullptr;
    rec(s)->alive[rec(s)->next] = 'b';
    return reinterpret_cast<void*>(rec(s)->next++);
}
void fill_rect(void* s, int32_t, int32_t, int32_t, int32_t, void* brush) {
    rec(s)->log += rec(s)->alive.count(reinterpret_cast<intptr_t>(brush)) ? "F" : "F!";
}
void delete_object(void* s, void* object) {
    intptr_t o = reinterpret_cast<intptr_t>(object);
    rec(s)->log += o == rec(s)->selected || !rec(s)->alive.count(o) ? "d!" : "d";
    rec(s)->alive.erase(o);
}
void text_out(void* s, int32_t, int32_t, uint32_t, const char* text) {
    Recorder* r = rec(s);
    r->log += 'T';
    r->text_font[text] = r->selected == r->original ? FONT_DEFAULT : r->font_kind[r->selected];
}

TEST_F(Screen, DrawingGivesBackEveryObjectItMakes) {
    state.connected.store(1);
    add_entry(0, "Entry");
    std::strcpy(state.pin_text, "4711");
    state.show_stats.store(1);
    for (int fail = -1; fail <= FONT_PIN + 1; fail++) {
        Recorder r;
        r.fail_font = fail <= FONT_PIN ? fail : -1;
        r.fail_brush = fail > FONT_PIN;
        Canvas canvas = {&r, create_font, select_font, create_brush, fill_rect, delete_object, text_out};
        title_screen();
        for (int i = 0; i < 3; i++) run_draw_list(&list, &canvas);
        EXPECT_TRUE(r.alive.empty()) << fail;
        EXPECT_EQ(r.selected, r.original);
        EXPECT_EQ(r.log.find('!'), std::string::npos) << r.log;
        if (fail == -1) {
            for (size_t b = r.log.find('b'); b != std::string::npos; b = r.log.find('b', b + 1))
                EXPECT_EQ(r.log.substr(b, 3), "bFd") << r.log;
            EXPECT_EQ(std::count(r.log.begin(), r.log.end(), 'f'), 9) << r.log;
            EXPECT_EQ(std::count_if(r.log.begin(), r.log.end(), [](char c) { return c == 'F' || c == 'T'; }), 3 * list.count);
            EXPECT_EQ(r.text_font["Quorvane!"], FONT_TITLE);
            EXPECT_EQ(r.text_font["Entry"] * 10 + r.text_font["4711"], FONT_TEXT * 10 + FONT_PIN);
            EXPECT_EQ(r.text_font[PIN_PROMPT_TEXT] * 10 + r.text_font[HELP_TEXT], FONT_TEXT * 11);
            EXPECT_EQ(r.text_font[list.ops[list.count - 1].text], FONT_DEFAULT);
        }
        if (fail == FONT_TITLE) { EXPECT_EQ(r.text_font["Quorvane!"], FONT_DEFAULT); }
        if (fail > FONT_PIN) { EXPECT_EQ(r.log.find('F'), std::string::npos); }
    }
}
