// The native settings-file layer on its own: what it keeps byte for byte,
// how it treats files it must not touch, and the fallback computer name.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <string>
#include <thread>

#include "settings/profile.h"
#include "settings/profile_posix.h"
#include "settings/settings.h"
#include "tests/support/temp_files.h"

namespace {

class ProfileFile : public ::testing::Test {
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
    TempFolder folder;
    std::string ini;
};

TEST_F(ProfileFile, ComputerWithoutANameGivesWin98) {
    profile_test_fail_computer_name(1);
    load_settings_from(ini.c_str());
    EXPECT_STREQ(settings.namn, "WIN98");
    ASSERT_TRUE(write_bytes(ini, "[Quorvane]\nnamn=\n"));
    load_settings_from(ini.c_str());
    EXPECT_STREQ(settings.namn, "WIN98");
    ASSERT_TRUE(write_bytes(ini, "[Quorvane]\nnamn=Hemma\n"));
    load_settings_from(ini.c_str());
    EXPECT_STREQ(settings.namn, "Hemma");
}

TEST_F(ProfileFile, EveryOtherByteIsKeptWhenAKeyIsReplaced) {
    const std::string before =
        "\r\n; top\r\n\r\n[Quorvane]\r\n   Port  =  5   ; old\r\n\r\n\tbredd=800\r\n\r\n\r\n[X]\r\n";
    ASSERT_TRUE(write_bytes(ini, before));
    EXPECT_EQ(profile_write_text("quorvane", "port", "3300", ini.c_str()), 1);
    EXPECT_EQ(read_bytes(ini),
              "\r\n; top\r\n\r\n[Quorvane]\r\nPort=3300\r\n\r\n\tbredd=800\r\n\r\n\r\n[X]\r\n");
    // A new key follows the section's last non-blank line, before the blank
    // lines that separate it from the next section.
    EXPECT_EQ(profile_write_text("Quorvane", "fps", "25", ini.c_str()), 1);
    EXPECT_EQ(read_bytes(ini), "\r\n; top\r\n\r\n[Quorvane]\r\nPort=3300\r\n\r\n\tbredd=800\r\n"
                               "fps=25\r\n\r\n\r\n[X]\r\n");
}

TEST_F(ProfileFile, LineFeedFilesAndUnterminatedLastLines) {
    ASSERT_TRUE(write_bytes(ini, "[Quorvane]\nhost=a"));
    EXPECT_EQ(profile_write_text("Quorvane", "port", "1", ini.c_str()), 1);
    EXPECT_EQ(read_bytes(ini), "[Quorvane]\nhost=a\nport=1\n");

    ASSERT_TRUE(write_bytes(ini, "[Andra]\r\nx=1"));
    EXPECT_EQ(profile_write_text("Quorvane", "port", "1", ini.c_str()), 1);
    EXPECT_EQ(read_bytes(ini), "[Andra]\r\nx=1\r\n[Quorvane]\r\nport=1\r\n");

    ASSERT_TRUE(write_bytes(ini, "[Quorvane]"));
    EXPECT_EQ(profile_write_text("Quorvane", "port", "1", ini.c_str()), 1);
    EXPECT_EQ(read_bytes(ini), "[Quorvane]\r\nport=1\r\n");

    ASSERT_TRUE(write_bytes(ini, "[Quorvane]\nhost=a"));
    EXPECT_EQ(profile_write_text("Quorvane", "HOST", "b", ini.c_str()), 1);
    EXPECT_EQ(read_bytes(ini), "[Quorvane]\nhost=b");
}

TEST_F(ProfileFile, NulBytesEndNamesAndValues) {
    ASSERT_TRUE(write_bytes(ini, std::string("[Quorvane]\nhost=ab\0cd\nport\0xx=77\n", 32)));
    char text[32];
    EXPECT_EQ(profile_read_text("Quorvane", "host", "-", text, sizeof text, ini.c_str()), 2);
    EXPECT_STREQ(text, "ab");
    EXPECT_EQ(profile_read_int("Quorvane", "port", 5, ini.c_str()), 77);
}

TEST_F(ProfileFile, IntegersWrapLikeThePlatformsReader) {
    ASSERT_TRUE(write_bytes(ini, "[Quorvane]\na=4294967297\nb=-4294967297\nc=" +
                                     std::string(40, '9') + "\nd=" + std::string(40, '0') + "7\n"));
    EXPECT_EQ(profile_read_int("Quorvane", "a", 5, ini.c_str()), 1);
    EXPECT_EQ(profile_read_int("Quorvane", "b", 5, ini.c_str()), -1);
    EXPECT_EQ(profile_read_int("Quorvane", "d", 5, ini.c_str()), 0);  // only 29 characters count
    // 29 nines modulo 2^32, read as signed.
    uint32_t expected = 0;
    for (int i = 0; i < 29; i++) expected = expected * 10u + 9u;
    EXPECT_EQ(profile_read_int("Quorvane", "c", 5, ini.c_str()), static_cast<int32_t>(expected));
}

TEST_F(ProfileFile, ReadsCutToTheBufferAndAlwaysTerminate) {
    ASSERT_TRUE(write_bytes(ini, "[Quorvane]\nhost=abcdefgh\n"));
    char text[5];
    std::memset(text, 'Z', sizeof text);
    EXPECT_EQ(profile_read_text("Quorvane", "host", "", text, 5, ini.c_str()), 4);
    EXPECT_STREQ(text, "abcd");
    char one[1] = {'Z'};
    EXPECT_EQ(profile_read_text("Quorvane", "host", "", one, 1, ini.c_str()), 0);
    EXPECT_EQ(one[0], 0);
    EXPECT_EQ(profile_read_text("Quorvane", "missing", "fallback", text, 5, ini.c_str()), 4);
    EXPECT_STREQ(text, "fall");
}

TEST_F(ProfileFile, AnOversizedFileIsReadInPartAndNeverWritten) {
    std::string big = "[Quorvane]\nport=4000\n";
    while (big.size() < (1u << 20) + 100) big += std::string(999, 'x') + "\n";
    big += "fps=12\n";
    ASSERT_TRUE(write_bytes(ini, big));
    EXPECT_EQ(profile_read_int("Quorvane", "port", 1, ini.c_str()), 4000);
    EXPECT_EQ(profile_read_int("Quorvane", "fps", 1, ini.c_str()), 1);  // beyond the limit
    EXPECT_EQ(profile_write_text("Quorvane", "port", "1", ini.c_str()), 0);
    EXPECT_EQ(read_bytes(ini), big);
}

TEST_F(ProfileFile, AFailedSaveLeavesRecordAndDiskAlone) {
    ASSERT_TRUE(write_bytes(ini, "[Quorvane]\nport=4000\n"));
    load_settings_from(ini.c_str());
    // A folder in the way of the temporary file: no write can start.
    ASSERT_TRUE(std::filesystem::create_directory(ini + ".qvtmp"));
    settings.port = 1;
    std::strcpy(settings.host, "ny");
    save_settings();
    EXPECT_EQ(settings.port, 1);
    EXPECT_STREQ(settings.host, "ny");
    EXPECT_EQ(read_bytes(ini), "[Quorvane]\nport=4000\n");
}

TEST_F(ProfileFile, AWriteThatCannotCompleteKeepsTheOldFile) {
    // The path names a folder: the temporary file cannot replace it.
    std::string target = folder.path("sub");
    ASSERT_TRUE(std::filesystem::create_directory(target));
    EXPECT_EQ(profile_write_text("Quorvane", "port", "1", target.c_str()), 0);
    EXPECT_TRUE(std::filesystem::is_directory(target));
    EXPECT_FALSE(file_exists(target + ".qvtmp"));
}

TEST_F(ProfileFile, TooLongAPathFallsBackToTheCurrentFolder) {
    std::string path = "/" + std::string(400, 'p') + "/QUORVANE.INI";
    load_settings_from(path.c_str());
    EXPECT_STREQ(settings_path, ".\\QUORVANE.INI");
}

TEST_F(ProfileFile, SnapshotsNeverSeeAHalfWrittenRecord) {
    // The window thread rewrites the texts under settings_lock while the
    // network thread copies the record.
    std::atomic<bool> stop{false};
    std::thread writer([&] {
        for (int i = 0; !stop.load(); i++) {
            const char fill = (i & 1) ? 'a' : 'b';
            lock_enter(&settings_lock);
            std::memset(settings.host, fill, HOST_SIZE - 1);
            settings.host[HOST_SIZE - 1] = 0;
            std::memset(settings.namn, fill, NAME_SIZE - 1);
            settings.port = fill;
            lock_leave(&settings_lock);
        }
    });
    int mixed = 0;
    for (int i = 0; i < 20000; i++) {
        Settings copy;
        settings_snapshot(&copy);
        const char fill = copy.host[0];
        if (fill == 0) continue;
        for (int j = 0; j < HOST_SIZE - 1; j++) mixed += copy.host[j] != fill;
        for (int j = 0; j < NAME_SIZE - 1; j++) mixed += copy.namn[j] != fill;
        mixed += copy.port != fill;
    }
    stop.store(true);
    writer.join();
    EXPECT_EQ(mixed, 0);
}

}  // namespace
