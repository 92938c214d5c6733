// The settings dialog's rules: what a typed port or frame rate becomes,
// which list entry is shown, and what a confirmation leaves in the file.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "settings/dialog_rules.h"
#include "settings/settings.h"
#include "tests/support/temp_files.h"

namespace {

TEST(DialogNumbers, ReadLikeCsDecimalConversion) {
    EXPECT_EQ(dialog_text_to_int("3300abc"), 3300);
    EXPECT_EQ(dialog_text_to_int("  \t42"), 42);
    EXPECT_EQ(dialog_text_to_int("-5"), -5);
    EXPECT_EQ(dialog_text_to_int("+17x"), 17);
    EXPECT_EQ(dialog_text_to_int("abc"), 0);
    EXPECT_EQ(dialog_text_to_int(""), 0);
    EXPECT_EQ(dialog_text_to_int("- 5"), 0);
    EXPECT_EQ(dialog_text_to_int("--5"), 0);
    EXPECT_EQ(dialog_text_to_int("12 34"), 12);
    EXPECT_EQ(dialog_text_to_int("2147483647"), 2147483647);
    EXPECT_EQ(dialog_text_to_int("-2147483648"), -2147483647 - 1);
    // Beyond the range: the ends of the range, never a wrapped value.
    EXPECT_EQ(dialog_text_to_int("2147483648"), 2147483647);
    EXPECT_EQ(dialog_text_to_int("99999999999999999999999999"), 2147483647);
    EXPECT_EQ(dialog_text_to_int("-2147483649"), -2147483647 - 1);
    EXPECT_EQ(dialog_text_to_int(("-" + std::string(500, '9')).c_str()), -2147483647 - 1);
}

TEST(DialogNumbers, PortAndFrameRateRules) {
    EXPECT_EQ(dialog_port_value("3300abc"), 3300);
    EXPECT_EQ(dialog_port_value("0"), 3300);
    EXPECT_EQ(dialog_port_value("-5"), 3300);
    EXPECT_EQ(dialog_port_value("abc"), 3300);
    EXPECT_EQ(dialog_port_value(""), 3300);
    EXPECT_EQ(dialog_port_value("70000"), 70000);
    EXPECT_EQ(dialog_port_value("1"), 1);
    EXPECT_EQ(dialog_port_value("99999999999"), 2147483647);
    EXPECT_EQ(dialog_port_value("-99999999999"), 3300);

    EXPECT_EQ(dialog_fps_value("4"), 30);
    EXPECT_EQ(dialog_fps_value("5"), 5);
    EXPECT_EQ(dialog_fps_value("60"), 60);
    EXPECT_EQ(dialog_fps_value("61"), 30);
    EXPECT_EQ(dialog_fps_value("-30"), 30);
    EXPECT_EQ(dialog_fps_value("25 bilder"), 25);
    EXPECT_EQ(dialog_fps_value("4294967321"), 30);  // would be 25 if it wrapped

    // Only the first 63 characters of a field are read.
    EXPECT_EQ(dialog_port_value((std::string(62, '0') + "7").c_str()), 7);
    EXPECT_EQ(dialog_port_value((std::string(63, '0') + "7").c_str()), 3300);
}

TEST(DialogResolution, ListTextsAndPositions) {
    EXPECT_STREQ(RESOLUTION_CHOICES[0].text, "640 x 480 (standard)");
    EXPECT_STREQ(RESOLUTION_CHOICES[1].text, "320 x 240 (sn\xE5l)");
    EXPECT_STREQ(RESOLUTION_CHOICES[2].text, "800 x 600");

    EXPECT_EQ(resolution_position_for(320), 1);
    EXPECT_EQ(resolution_position_for(800), 2);
    EXPECT_EQ(resolution_position_for(640), 0);
    EXPECT_EQ(resolution_position_for(1024), 0);
    EXPECT_EQ(resolution_position_for(0), 0);

    const int32_t expected[][3] = {{-1, 640, 480}, {0, 640, 480}, {1, 320, 240},
                                   {2, 800, 600},  {3, 640, 480}, {-7, 640, 480}};
    for (const auto& row : expected) {
        int32_t bredd = 0, hojd = 0;
        resolution_at_position(row[0], &bredd, &hojd);
        EXPECT_EQ(bredd, row[1]) << "position " << row[0];
        EXPECT_EQ(hojd, row[2]) << "position " << row[0];
    }
}

class DialogConfirm : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(folder.ok());
        settings_reset_defaults();
        ini = folder.path("QUORVANE.INI");
    }
    void TearDown() override { settings_reset_defaults(); }
    TempFolder folder;
    std::string ini;
};

TEST_F(DialogConfirm, StoresTheFieldsAndSaveWritesAllThirteenKeys) {
    ASSERT_TRUE(write_bytes(ini, "[Quorvane]\r\nbredd=1024\r\nhojd=768\r\nstereo=0\r\n"
                                 "muskanslighet=40\r\njoystick=0\r\nljudfrekvens=11025\r\n"));
    load_settings_from(ini.c_str());
    // A file with 1024 x 768 shows the first entry.
    EXPECT_EQ(resolution_position_for(settings.bredd), 0);

    const std::string long_host(200, 'h');
    DialogValues values = {long_host.c_str(), "3300abc", "RETRO-PC", "hemlig-nyckel-som-ar-alldeles-for-lang",
                           "61", -1, 0, 1};
    store_dialog_values(&values);
    save_settings();

    EXPECT_EQ(read_bytes(ini), "[Quorvane]\r\nbredd=640\r\nhojd=480\r\nstereo=0\r\n"
                               "muskanslighet=40\r\njoystick=0\r\nljudfrekvens=11025\r\nhost=" +
                                   std::string(127, 'h') +
                                   "\r\nport=3300\r\nfps=30\r\nfullskarm=0\r\nljud=1\r\n"
                                   "namn=RETRO-PC\r\nnyckel=hemlig-nyckel-som-ar-alldeles-fo\r\n");
    EXPECT_EQ(settings.stereo, 1);
    EXPECT_EQ(settings.muskanslighet, 40);
}

TEST_F(DialogConfirm, ResolutionAndCheckBoxes) {
    load_settings_from(ini.c_str());
    settings.bredd = 800;
    settings.hojd = 500;
    EXPECT_EQ(resolution_position_for(settings.bredd), 2);
    DialogValues values = {"server", "70000", "n", "", "5", 2, 1, 0};
    store_dialog_values(&values);
    EXPECT_STREQ(settings.host, "server");
    EXPECT_EQ(settings.port, 70000);
    EXPECT_EQ(settings.bredd, 800);
    EXPECT_EQ(settings.hojd, 600);
    EXPECT_EQ(settings.fps, 5);
    EXPECT_EQ(settings.fullskarm, 1);
    EXPECT_EQ(settings.ljud, 0);
    EXPECT_STREQ(settings.nyckel, "");

    DialogValues small = {"", "-1", "", "", "abc", 1, 7, 7};
    store_dialog_values(&small);
    EXPECT_STREQ(settings.host, "");
    EXPECT_EQ(settings.port, 3300);
    EXPECT_EQ(settings.fps, 30);
    EXPECT_EQ(settings.bredd, 320);
    EXPECT_EQ(settings.hojd, 240);
    EXPECT_EQ(settings.fullskarm, 1);
    EXPECT_EQ(settings.ljud, 1);
}

}  // namespace
