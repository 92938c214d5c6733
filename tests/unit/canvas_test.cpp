// Carrying out a drawing list gives back every font and brush it makes,
// deletes none while selected, and draws each text in its font: what keeps
// a long-running client on Windows 98 from emptying the GDI heap.
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "core/client_state.h"
#include "tests/support/client_fixture.h"
#include "ui/canvas.h"
#include "ui/title_screen.h"

namespace {

// A surface that hands out numbered objects and records what happens.
struct Recorder {
    int next = 100;
    void* original = reinterpret_cast<void*>(1);  // the surface's own font
    void* selected = reinterpret_cast<void*>(1);
    std::map<void*, std::string> alive;            // made and not yet deleted
    std::vector<std::string> log;
    std::vector<std::pair<std::string, void*>> texts;  // text and the font it was drawn in
    std::map<void*, int> font_kind;
    int fonts_made = 0, brushes_made = 0, fills = 0;
    bool deleted_while_selected = false;
    int fail_font = -1;      // DrawFont whose creation fails
    bool fail_brush = false;

    void* make(const std::string& what) {
        void* object = reinterpret_cast<void*>(static_cast<intptr_t>(next++));
        alive[object] = what;
        return object;
    }
};

Recorder* recorder(void* surface) { return static_cast<Recorder*>(surface); }

void* create_font(void* surface, int font) {
    Recorder* r = recorder(surface);
    r->log.push_back("font " + std::to_string(font));
    if (font == r->fail_font) return nullptr;
    r->fonts_made++;
    void* object = r->make("font");
    r->font_kind[object] = font;
    return object;
}
void* select_font(void* surface, void* font) {
    Recorder* r = recorder(surface);
    void* previous = r->selected;
    r->selected = font;
    return previous;
}
void* create_brush(void* surface, uint32_t) {
    Recorder* r = recorder(surface);
    r->log.push_back("brush");
    if (r->fail_brush) return nullptr;
    r->brushes_made++;
    return r->make("brush");
}
void fill_rect(void* surface, int32_t, int32_t, int32_t, int32_t, void* brush) {
    Recorder* r = recorder(surface);
    r->fills++;
    r->log.push_back(r->alive.count(brush) ? "fill" : "fill with a dead brush");
}
void delete_object(void* surface, void* object) {
    Recorder* r = recorder(surface);
    if (object == r->selected) r->deleted_while_selected = true;
    r->log.push_back(r->alive.count(object) ? "delete " + r->alive[object] : "delete unknown");
    r->alive.erase(object);
}
void text_out(void* surface, int32_t, int32_t, uint32_t, const char* text) {
    Recorder* r = recorder(surface);
    r->texts.push_back({text, r->selected});
}

class CanvasTest : public ::testing::Test {
protected:
    void SetUp() override {
        fresh_client_state();
        draw_list_clear(&list_);
    }
    void TearDown() override { client_state_reset(); }
    void run() {
        Canvas canvas = {&rec_, create_font, select_font, create_brush, fill_rect, delete_object,
                         text_out};
        run_draw_list(&list_, &canvas);
    }
    void full_title_screen() {
        state.connected.store(1);
        for (int i = 0; i < 3; i++) {
            state.apps[i].id = static_cast<uint16_t>(i);
            std::strcpy(state.apps[i].name, "Entry");
        }
        state.app_count.store(3);
        std::strcpy(state.pin_text, "4711");
        state.show_stats.store(1);
        build_title_screen(&list_, 640, 480);
        build_stats_line(&list_);
    }
    int font_of_text(const std::string& text) {
        for (auto& t : rec_.texts)
            if (t.first == text) return t.second == rec_.original ? FONT_DEFAULT : rec_.font_kind[t.second];
        return -1;
    }
    DrawList list_;
    Recorder rec_;
};

TEST_F(CanvasTest, TitleScreenGivesBackEveryObjectItMade) {
    full_title_screen();
    run();
    EXPECT_TRUE(rec_.alive.empty()) << rec_.alive.size() << " objects left";
    EXPECT_FALSE(rec_.deleted_while_selected);
    EXPECT_EQ(rec_.selected, rec_.original);   // the surface's own font again
    EXPECT_EQ(rec_.fonts_made, 3);             // title, text and PIN font, once each
    EXPECT_EQ(rec_.brushes_made, 3);           // background, band, statistics box
    EXPECT_EQ(rec_.fills, 3);
}

TEST_F(CanvasTest, EachBrushIsMadeRightBeforeItsFillAndDeletedRightAfter) {
    full_title_screen();
    run();
    for (size_t i = 0; i < rec_.log.size(); i++) {
        if (rec_.log[i] != "brush") continue;
        ASSERT_LT(i + 2, rec_.log.size());
        EXPECT_EQ(rec_.log[i + 1], "fill");
        EXPECT_EQ(rec_.log[i + 2], "delete brush");
    }
}

TEST_F(CanvasTest, TextsAreDrawnInTheirFonts) {
    full_title_screen();
    run();
    EXPECT_EQ(font_of_text("Quorvane!"), FONT_TITLE);
    EXPECT_EQ(font_of_text(TAG_LINE_TEXT), FONT_TEXT);
    EXPECT_EQ(font_of_text("Entry"), FONT_TEXT);
    EXPECT_EQ(font_of_text(PIN_PROMPT_TEXT), FONT_TEXT);
    EXPECT_EQ(font_of_text("4711"), FONT_PIN);
    EXPECT_EQ(font_of_text(HELP_TEXT), FONT_TEXT);
    // The statistics line uses the surface's own font.
    EXPECT_EQ(rec_.texts.back().second, rec_.original);
}

TEST_F(CanvasTest, NoPinFontWithoutAPin) {
    build_title_screen(&list_, 640, 480);
    run();
    EXPECT_EQ(rec_.fonts_made, 2);
    EXPECT_TRUE(rec_.alive.empty());
}

TEST_F(CanvasTest, StatisticsLineAloneMakesNoFont) {
    state.show_stats.store(1);
    build_stats_line(&list_);
    run();
    EXPECT_EQ(rec_.fonts_made, 0);
    EXPECT_EQ(rec_.selected, rec_.original);
    EXPECT_EQ(rec_.brushes_made, 1);
    EXPECT_TRUE(rec_.alive.empty());
}

TEST_F(CanvasTest, AFontThatCannotBeMadeLeavesTheOthersBalanced) {
    rec_.fail_font = FONT_TITLE;
    full_title_screen();
    run();
    EXPECT_EQ(font_of_text("Quorvane!"), FONT_DEFAULT);  // drawn with what was selected
    EXPECT_EQ(font_of_text(TAG_LINE_TEXT), FONT_TEXT);
    EXPECT_TRUE(rec_.alive.empty());
    EXPECT_EQ(rec_.selected, rec_.original);
    for (const std::string& entry : rec_.log) EXPECT_NE(entry, "delete unknown");
}

TEST_F(CanvasTest, ABrushThatCannotBeMadeSkipsItsFill) {
    rec_.fail_brush = true;
    full_title_screen();
    run();
    EXPECT_EQ(rec_.fills, 0);
    for (const std::string& entry : rec_.log) EXPECT_NE(entry, "delete unknown");
    EXPECT_TRUE(rec_.alive.empty());
}

TEST_F(CanvasTest, RepeatedPaintsKeepNothing) {
    full_title_screen();
    for (int i = 0; i < 1000; i++) run();
    EXPECT_TRUE(rec_.alive.empty());
    EXPECT_EQ(rec_.fonts_made, 3000);
}

}  // namespace
