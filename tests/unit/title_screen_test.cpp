// What the title screen and the statistics line put where, in which colour
// and font, for the states a user meets: not connected, waiting for the
// list, the menu, a PIN, the statistics on and off.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "core/client_state.h"
#include "tests/support/client_fixture.h"
#include "media/frame_buffer.h"
#include "ui/title_screen.h"

namespace {

class TitleScreenTest : public ::testing::Test {
protected:
    void SetUp() override {
        fresh_client_state();
        draw_list_clear(&list_);
    }
    void TearDown() override { client_state_reset(); }

    // The text ops drawn at (x, y), in drawing order.
    const DrawOp* text_at(int32_t x, int32_t y) const {
        for (int i = 0; i < list_.count; i++) {
            const DrawOp& op = list_.ops[i];
            if (op.kind == DRAW_TEXT && op.x == x && op.y == y) return &op;
        }
        return nullptr;
    }
    int count_kind(int kind) const {
        int n = 0;
        for (int i = 0; i < list_.count; i++) n += list_.ops[i].kind == kind;
        return n;
    }
    void add_entry(uint16_t id, uint8_t kind, const char* name) {
        int32_t i = state.app_count.load();
        state.apps[i].id = id;
        state.apps[i].kind = kind;
        std::snprintf(state.apps[i].name, APP_NAME_SIZE, "%s", name);
        state.app_count.store(i + 1);
    }

    DrawList list_;
};

TEST_F(TitleScreenTest, NotConnectedShowsTitleTagStatusAndHelpOnly) {
    std::strcpy(state.status_text, "Ansluter till 10.0.0.2:3300 ...");
    add_entry(1, 0, "Hidden");  // a list without a link is not shown
    build_title_screen(&list_, 640, 480);

    const DrawOp& background = list_.ops[0];
    EXPECT_EQ(background.kind, DRAW_FILL);
    EXPECT_EQ(background.x, 0);
    EXPECT_EQ(background.y, 0);
    EXPECT_EQ(background.right, 640);
    EXPECT_EQ(background.bottom, 480);
    EXPECT_EQ(background.colour, rgb(12, 10, 24));

    // The shadow first, then the title 4 pixels up and left of it.
    EXPECT_EQ(list_.ops[1].x, 34);
    EXPECT_EQ(list_.ops[1].y, 26);
    EXPECT_EQ(list_.ops[1].colour, rgb(120, 20, 10));
    EXPECT_EQ(list_.ops[2].x, 30);
    EXPECT_EQ(list_.ops[2].y, 22);
    EXPECT_EQ(list_.ops[2].colour, rgb(255, 90, 40));
    EXPECT_STREQ(list_.ops[2].text, "Quorvane!");
    EXPECT_EQ(list_.ops[2].font, FONT_TITLE);

    const DrawOp* tag = text_at(34, 72);
    ASSERT_NE(tag, nullptr);
    EXPECT_STREQ(tag->text, "str\xF6mma moderna program till din retrodator");
    EXPECT_EQ(tag->colour, rgb(150, 150, 190));
    EXPECT_EQ(tag->font, FONT_TEXT);

    const DrawOp* status = text_at(40, 480 - 64);
    ASSERT_NE(status, nullptr);
    EXPECT_STREQ(status->text, "Ansluter till 10.0.0.2:3300 ...");
    EXPECT_EQ(status->colour, rgb(255, 200, 120));

    const DrawOp* help = text_at(40, 480 - 38);
    ASSERT_NE(help, nullptr);
    EXPECT_STREQ(help->text,
                 "Pil upp/ned + Enter startar.  F8 mus  F9 meny  F10 inst\xE4llningar  "
                 "F11 info  F12 avsluta");
    EXPECT_EQ(help->colour, rgb(110, 110, 140));

    EXPECT_EQ(text_at(40, 120), nullptr);  // no menu, no waiting text
    EXPECT_EQ(count_kind(DRAW_FILL), 1);
    EXPECT_EQ(list_.count, 6);
}

TEST_F(TitleScreenTest, EmptyStatusLineIsStillDrawn) {
    build_title_screen(&list_, 800, 600);
    const DrawOp* status = text_at(40, 600 - 64);
    ASSERT_NE(status, nullptr);
    EXPECT_STREQ(status->text, "");
}

TEST_F(TitleScreenTest, ConnectedWithEmptyListWaits) {
    state.connected.store(1);
    build_title_screen(&list_, 640, 480);
    const DrawOp* waiting = text_at(40, 120);
    ASSERT_NE(waiting, nullptr);
    EXPECT_STREQ(waiting->text, "V\xE4ntar p\xE5 applistan ...");
    EXPECT_EQ(waiting->colour, rgb(200, 200, 200));
}

TEST_F(TitleScreenTest, MenuRowsWithBandAndKindLabels) {
    state.connected.store(1);
    add_entry(1, APP_KIND_SCREEN, "Hela sk\xE4rmen");
    add_entry(2, APP_KIND_WINDOW, "Ett f\xF6nster");
    add_entry(3, 7, "Ok\xE4nd sort");
    add_entry(4, APP_KIND_WEB, "Webb");
    add_entry(5, APP_KIND_MOONLIGHT, "Moonlight");
    add_entry(6, APP_KIND_PROGRAM, "Program");
    state.app_selected.store(1);
    build_title_screen(&list_, 640, 480);

    // One band only, at the selected row: (26, y - 2) to (W - 26, y + 22).
    EXPECT_EQ(count_kind(DRAW_FILL), 2);
    const DrawOp* band = nullptr;
    for (int i = 1; i < list_.count; i++)
        if (list_.ops[i].kind == DRAW_FILL) band = &list_.ops[i];
    ASSERT_NE(band, nullptr);
    EXPECT_EQ(band->x, 26);
    EXPECT_EQ(band->y, 144);
    EXPECT_EQ(band->right, 614);
    EXPECT_EQ(band->bottom, 168);
    EXPECT_EQ(band->colour, rgb(170, 40, 20));

    const char* labels[] = {"[sk\xE4rm]", "[f\xF6nster]", "[program]", "[webb]", "[moonlight]",
                            "[program]"};
    for (int i = 0; i < 6; i++) {
        int32_t y = 120 + 26 * i;
        const DrawOp* name = text_at(40, y);
        ASSERT_NE(name, nullptr) << "row " << i;
        EXPECT_STREQ(name->text, state.apps[i].name);
        EXPECT_EQ(name->colour, rgb(255, 255, 255));
        const DrawOp* label = text_at(640 - 140, y);
        ASSERT_NE(label, nullptr) << "row " << i;
        EXPECT_STREQ(label->text, labels[i]);
        EXPECT_EQ(label->colour, i == 1 ? rgb(255, 220, 200) : rgb(120, 120, 150));
    }
    EXPECT_EQ(text_at(40, 480 - 150), nullptr);  // no PIN
}

TEST_F(TitleScreenTest, BandIsDrawnBeforeItsRowsText) {
    state.connected.store(1);
    add_entry(1, 0, "Ett");
    build_title_screen(&list_, 640, 480);
    int band = -1, name = -1;
    for (int i = 1; i < list_.count; i++) {
        if (list_.ops[i].kind == DRAW_FILL) band = i;
        if (list_.ops[i].kind == DRAW_TEXT && list_.ops[i].y == 120 && list_.ops[i].x == 40) name = i;
    }
    ASSERT_GE(band, 0);
    EXPECT_LT(band, name);
}

TEST_F(TitleScreenTest, FullListOf64EntriesFitsWithEverythingAfterIt) {
    state.connected.store(1);
    for (int i = 0; i < 64; i++) add_entry(static_cast<uint16_t>(i), 0, "x");
    std::strcpy(state.pin_text, "1234");
    state.show_stats.store(1);
    build_title_screen(&list_, 640, 480);
    build_stats_line(&list_);
    EXPECT_NE(text_at(40, 120 + 26 * 63), nullptr);
    EXPECT_NE(text_at(40, 480 - 38), nullptr);  // the help line after the menu
    EXPECT_NE(text_at(2, 1), nullptr);          // and the statistics line last
    EXPECT_LE(list_.count, DRAW_LIST_CAPACITY);
}

TEST_F(TitleScreenTest, LongNameIsTakenWhole) {
    state.connected.store(1);
    add_entry(1, 0, "");
    std::memset(state.apps[0].name, 'N', APP_NAME_SIZE - 1);
    state.apps[0].name[APP_NAME_SIZE - 1] = 0;
    build_title_screen(&list_, 640, 480);
    const DrawOp* name = text_at(40, 120);
    ASSERT_NE(name, nullptr);
    EXPECT_EQ(std::strlen(name->text), static_cast<size_t>(APP_NAME_SIZE - 1));
}

TEST_F(TitleScreenTest, PinPromptAndPinInTheirFonts) {
    std::strcpy(state.pin_text, "4711");
    build_title_screen(&list_, 640, 480);
    const DrawOp* prompt = text_at(40, 480 - 150);
    ASSERT_NE(prompt, nullptr);
    EXPECT_STREQ(prompt->text,
                 "Skriv in den h\xE4r PIN-koden i Sunshine/Apollo (webbgr\xE4nssnittet, fliken PIN):");
    EXPECT_EQ(prompt->colour, rgb(255, 220, 120));
    EXPECT_EQ(prompt->font, FONT_TEXT);
    const DrawOp* pin = text_at(40, 480 - 125);
    ASSERT_NE(pin, nullptr);
    EXPECT_STREQ(pin->text, "4711");
    EXPECT_EQ(pin->colour, rgb(255, 255, 0));
    EXPECT_EQ(pin->font, FONT_PIN);
}

TEST_F(TitleScreenTest, StatisticsLineText) {
    char line[DRAW_TEXT_SIZE];
    format_stats_line(line, sizeof line, 30, 412, 12, 640, 480, 0);
    EXPECT_STREQ(line, " 30 bilder/s  412 kB/s  ping 12 ms  640x480 l\xE5st mus");
    format_stats_line(line, sizeof line, 0, 4294967295u, 7, 1024, 768, 2);
    EXPECT_STREQ(line, " 0 bilder/s  4294967295 kB/s  ping 7 ms  1024x768 pekare");
}

TEST_F(TitleScreenTest, StatisticsLineBoxOnlyWhenSwitchedOn) {
    build_stats_line(&list_);
    EXPECT_EQ(list_.count, 0);
    state.show_stats.store(1);
    state.stat_fps.store(25);
    state.stat_kbps.store(100);
    state.ping_ms.store(3);
    state.pointer_mode.store(1);
    build_stats_line(&list_);
    ASSERT_EQ(list_.count, 2);
    EXPECT_EQ(list_.ops[0].kind, DRAW_FILL);
    EXPECT_EQ(list_.ops[0].x, 0);
    EXPECT_EQ(list_.ops[0].y, 0);
    EXPECT_EQ(list_.ops[0].right, 330);
    EXPECT_EQ(list_.ops[0].bottom, 18);
    EXPECT_EQ(list_.ops[0].colour, rgb(0, 0, 0));
    EXPECT_EQ(list_.ops[1].x, 2);
    EXPECT_EQ(list_.ops[1].y, 1);
    EXPECT_EQ(list_.ops[1].colour, rgb(0, 255, 0));
    EXPECT_EQ(list_.ops[1].font, FONT_DEFAULT);
    EXPECT_STREQ(list_.ops[1].text, " 25 bilder/s  100 kB/s  ping 3 ms  640x480 pekare");
}

TEST_F(TitleScreenTest, PictureOnlyWhileStreamingAValidFrame) {
    create_frame_buffer(64, 48);
    EXPECT_EQ(picture_shown(), 0);
    state.stream_mode.store(1);
    EXPECT_EQ(picture_shown(), 0);  // nothing decoded yet
    state.frame_valid.store(1);
    EXPECT_EQ(picture_shown(), 1);
    state.stream_mode.store(2);
    EXPECT_EQ(picture_shown(), 0);
    state.stream_mode.store(1);
    create_frame_buffer(0, 0);      // a failed creation leaves no picture
    EXPECT_EQ(picture_shown(), 0);
}

}  // namespace
