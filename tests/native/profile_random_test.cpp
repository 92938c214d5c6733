// The native settings-file reader and writer against many random files made
// of the pieces that matter (brackets, names, '=', quotes, line ends, NUL,
// high bytes, long runs): nothing breaks, loading always gives a record
// within its bounds, and writing a key changes that key and nothing else.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "settings/profile.h"
#include "settings/settings.h"
#include "tests/support/temp_files.h"

namespace {

std::string random_file(std::mt19937& random) {
    static const char* const pieces[] = {
        "[", "]", "[Quorvane]", "[quorvane ]", "[Other]", "Quorvane", "host", "PORT", "fps", "bredd",
        "namn", "=", "==", "\"", "'", " ", "\t", "\r", "\n", "\r\n", ";", "#", "12", "-7", "+3",
        "4294967297", "abc", "\xE5\xE4\xF6", "\x80\xFF",
    };
    const size_t piece_count = sizeof pieces / sizeof pieces[0];
    std::string text;
    int count = static_cast<int>(random() % 60);
    for (int i = 0; i < count; i++) {
        unsigned choice = random() % 100;
        if (choice < 85) {
            text += pieces[random() % piece_count];
        } else if (choice < 95) {
            text += static_cast<char>(random() & 0xFF);  // any byte, NUL too
        } else {
            text += std::string(random() % 3000, static_cast<char>('a' + random() % 26));
        }
    }
    return text;
}

std::string read_key(const std::string& path, const char* key) {
    char value[512];
    profile_read_text("Quorvane", key, "<missing>", value, sizeof value, path.c_str());
    return value;
}

TEST(ProfileRandom, AnyFileLoadsWithinBoundsAndWritesTouchOneKey) {
    TempFolder folder;
    ASSERT_TRUE(folder.ok());
    const std::string ini = folder.path("QUORVANE.INI");
    std::mt19937 random(20261206);
    const char* keys[] = {"host", "port", "fps", "bredd", "namn", "Quorvane"};
    for (int round = 0; round < 400; round++) {
        SCOPED_TRACE("round " + std::to_string(round));
        ASSERT_TRUE(write_bytes(ini, random_file(random)));

        settings_reset_defaults();
        load_settings_from(ini.c_str());
        ASSERT_TRUE(settings.bredd >= 160 && settings.bredd <= 1024);
        ASSERT_TRUE(settings.hojd >= 120 && settings.hojd <= 768);
        ASSERT_TRUE(settings.fps >= 5 && settings.fps <= 60);
        ASSERT_TRUE(settings.stereo == 1 || settings.stereo == 2);
        ASSERT_LT(std::strlen(settings.host), static_cast<size_t>(HOST_SIZE));
        ASSERT_LT(std::strlen(settings.namn), static_cast<size_t>(NAME_SIZE));
        ASSERT_LT(std::strlen(settings.nyckel), static_cast<size_t>(NAME_SIZE));

        // Write one key; it then reads back as written, every other key as before.
        const char* key = keys[random() % 5];
        std::vector<std::string> before;
        for (const char* k : keys) before.push_back(read_key(ini, k));
        const std::string value = "v" + std::to_string(random() % 100000);
        ASSERT_EQ(profile_write_text("Quorvane", key, value.c_str(), ini.c_str()), 1);
        for (size_t i = 0; i < sizeof keys / sizeof keys[0]; i++) {
            if (std::strcmp(keys[i], key) == 0) {
                EXPECT_EQ(read_key(ini, keys[i]), value);
            } else {
                EXPECT_EQ(read_key(ini, keys[i]), before[i]) << "key " << keys[i];
            }
        }
    }
    settings_reset_defaults();
}

}  // namespace
