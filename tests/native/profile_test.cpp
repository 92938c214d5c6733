// The native settings-file layer on its own: what it keeps byte for byte,
// the files it must not touch, random files, and the fallback name.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <random>
#include <string>
#include <thread>

#include "settings/profile.h"
#include "settings/profile_posix.h"
#include "settings/settings.h"
#include "tests/support/temp_files.h"

namespace {

class Profile : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(folder.ok());
        ini = folder.path("QUORVANE.INI");
        settings_reset_defaults();
    }
    void TearDown() override {
        profile_test_fail_computer_name(0);
        settings_reset_defaults();
    }
    std::string read(const char* key, int size = 64) {
        char value[512];
        profile_read_text("Quorvane", key, "<missing>", value, size, ini.c_str());
        return value;
    }
    TempFolder folder;
    std::string ini;
};

}  // namespace

TEST_F(Profile, WritingAKeyKeepsEveryOtherByte) {
    const struct {
        std::string before, key, value, after;
    } cases[] = {
        {"\r\n; top\r\n\r\n[Quorvane]\r\n   Port  =  5   ; old\r\n\r\n\tbredd=800\r\n\r\n\r\n[X]\r\n", "port", "3300",
         "\r\n; top\r\n\r\n[Quorvane]\r\nPort=3300\r\n\r\n\tbredd=800\r\n\r\n\r\n[X]\r\n"},
        // A new key follows the section's last non-blank line.
        {"[Quorvane]\r\nPort=3\r\n\r\n\tbredd=800\r\n\r\n[X]\r\n", "fps", "25",
         "[Quorvane]\r\nPort=3\r\n\r\n\tbredd=800\r\nfps=25\r\n\r\n[X]\r\n"},
        {"[Quorvane]\nhost=a", "port", "1", "[Quorvane]\nhost=a\nport=1\n"},
        {"[Andra]\r\nx=1", "port", "1", "[Andra]\r\nx=1\r\n[quorvane]\r\nport=1\r\n"},
        {"[Quorvane]", "port", "1", "[Quorvane]\r\nport=1\r\n"},
        {"[Quorvane]\nhost=a", "HOST", "b", "[Quorvane]\nhost=b"},
    };
    for (const auto& c : cases) {
        ASSERT_TRUE(write_bytes(ini, c.before));
        EXPECT_EQ(profile_write_text("quorvane", c.key.c_str(), c.value.c_str(), ini.c_str()), 1);
        EXPECT_EQ(read_bytes(ini), c.after);
    }
}

TEST_F(Profile, ReadingLikeThePlatformsReader) {
    const char head[] = "[Quorvane]\nhost=ab\0cd\nport\0xx=77\nlong=abcdefgh\na=4294967297\nb=-4294967297\nc=";
    ASSERT_TRUE(write_bytes(ini, std::string(head, sizeof head - 1) + std::string(40, '9') + "\nd=" +
                                     std::string(40, '0') + "7\n"));
    EXPECT_EQ(read("host"), "ab");  // NUL bytes end names and values
    EXPECT_EQ(profile_read_int("Quorvane", "port", 5, ini.c_str()), 77);
    EXPECT_EQ(read("long", 5) + read("long", 1) + read("missing", 5), "abcd<mis");
    uint32_t nines = 0;  // 29 characters count, modulo 2^32
    for (int i = 0; i < 29; i++) nines = nines * 10u + 9u;
    const struct { const char* key; int32_t value; } ints[] = {{"a", 1}, {"b", -1}, {"c", int32_t(nines)}, {"d", 0}};
    for (const auto& i : ints) EXPECT_EQ(profile_read_int("Quorvane", i.key, 5, ini.c_str()), i.value) << i.key;
}

TEST_F(Profile, FilesItMustNotTouch) {
    std::string big = "[Quorvane]\nport=4000\n";  // beyond 1 MiB: read in part, never written
    while (big.size() < (1u << 20) + 100) big += std::string(999, 'x') + "\n";
    big += "fps=12\n";
    ASSERT_TRUE(write_bytes(ini, big));
    EXPECT_EQ(profile_read_int("Quorvane", "port", 1, ini.c_str()) * 10 + profile_read_int("Quorvane", "fps", 1, ini.c_str()), 40001);
    EXPECT_EQ(profile_write_text("Quorvane", "port", "1", ini.c_str()), 0);
    EXPECT_EQ(read_bytes(ini), big);
    ASSERT_TRUE(write_bytes(ini, "[Quorvane]\nport=4000\n"));  // a folder in the way of the temporary file
    load_settings_from(ini.c_str());
    ASSERT_TRUE(std::filesystem::create_directory(ini + ".qvtmp"));
    settings.port = 1;
    save_settings();
    EXPECT_EQ(settings.port, 1);
    EXPECT_EQ(read_bytes(ini), "[Quorvane]\nport=4000\n");
    std::string target = folder.path("sub");  // the file is a folder
    ASSERT_TRUE(std::filesystem::create_directory(target));
    EXPECT_EQ(profile_write_text("Quorvane", "port", "1", target.c_str()), 0);
    EXPECT_FALSE(std::filesystem::exists(target + ".qvtmp"));
    load_settings_from(("/" + std::string(400, 'p') + "/QUORVANE.INI").c_str());
    EXPECT_STREQ(settings_path, ".\\QUORVANE.INI");
    profile_test_fail_computer_name(1);
    load_settings_from(ini.c_str());
    EXPECT_STREQ(settings.namn, "WIN98");
}

// Random files of the pieces that matter: loading always gives a record
// within its bounds, and writing a key changes that key and nothing else.
TEST_F(Profile, RandomFiles) {
    const char* pieces[] = {"[", "]", "[Quorvane]", "[quorvane ]", "[Other]", "Quorvane", "host", "PORT", "fps",
                            "namn", "=", "==", "\"", "'", " ", "\t", "\r", "\n", "\r\n", ";", "#", "12", "-7",
                            "4294967297", "\xE5\xE4\xF6", "\x80\xFF"};
    const char* keys[] = {"host", "port", "fps", "namn", "Quorvane"};
    std::mt19937 random(20261206);
    for (int round = 0; round < 400; round++) {
        std::string text;
        for (int i = int(random() % 60); i > 0; i--) {
            unsigned choice = random() % 100;
            if (choice < 85) text += pieces[random() % (sizeof pieces / sizeof pieces[0])];
            else if (choice < 95) text += char(random() & 0xFF);
            else text += std::string(random() % 3000, char('a' + random() % 26));
        }
        ASSERT_TRUE(write_bytes(ini, text));
        settings_reset_defaults();
        load_settings_from(ini.c_str());
        ASSERT_TRUE(settings.bredd >= 160 && settings.bredd <= 1024 && settings.hojd >= 120 && settings.hojd <= 768);
        ASSERT_TRUE(settings.fps >= 5 && settings.fps <= 60 && (settings.stereo == 1 || settings.stereo == 2));
        const char* key = keys[random() % 4];
        std::string before[5], value = "v" + std::to_string(random() % 100000);
        for (int k = 0; k < 5; k++) before[k] = read(keys[k], 512);
        ASSERT_EQ(profile_write_text("Quorvane", key, value.c_str(), ini.c_str()), 1);
        for (int k = 0; k < 5; k++)
            ASSERT_EQ(read(keys[k], 512), keys[k] == key ? value : before[k]) << round << " " << keys[k];
    }
}

TEST_F(Profile, SnapshotsNeverSeeAHalfWrittenRecord) {
    std::atomic<bool> stop{false};
    std::thread writer([&] {
        for (int i = 0; !stop.load(); i++) {
            lock_enter(&settings_lock);
            std::memset(settings.host, i & 1 ? 'a' : 'b', HOST_SIZE - 1);
            settings.port = i & 1 ? 'a' : 'b';
            lock_leave(&settings_lock);
        }
    });
    int mixed = 0;
    for (int i = 0; i < 20000; i++) {
        Settings copy;
        settings_snapshot(&copy);
        for (int j = 0; j < HOST_SIZE - 1 && copy.host[0] != 0; j++) mixed += copy.host[j] != copy.port;
    }
    stop.store(true);
    writer.join();
    EXPECT_EQ(mixed, 0);
}
