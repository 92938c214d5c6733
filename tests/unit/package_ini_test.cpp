// The example QUORVANE.INI that the zip for users carries
// (package/win98/QUORVANE.INI), read and edited through the program's own
// settings code: natively our reader, under Wine the private-profile
// functions. The zip has it with CR LF line ends, so both forms are tried.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "settings/profile.h"
#include "settings/settings.h"
#include "tests/support/temp_files.h"

namespace {

const char* const DEFAULTS[][2] = {
    {"host", ""},        {"port", "3300"},        {"bredd", "640"},   {"hojd", "480"},
    {"fps", "30"},       {"fullskarm", "1"},      {"ljud", "1"},      {"ljudfrekvens", "22050"},
    {"stereo", "1"},     {"muskanslighet", "100"}, {"joystick", "1"}, {"namn", ""},
    {"nyckel", ""},
};

class PackageIni : public ::testing::Test {
protected:
    void SetUp() override {
        const char* root = std::getenv("QV_SOURCE_DIR");
        ASSERT_NE(root, nullptr) << "QV_SOURCE_DIR must name the source tree";
        example = read_bytes(std::string(root) + "/package/win98/QUORVANE.INI");
        ASSERT_NE(example, "<missing>");
        ASSERT_TRUE(folder.ok());
        settings_reset_defaults();
    }
    void TearDown() override { settings_reset_defaults(); }

    // The example written into the test folder, with LF or CR LF line ends.
    std::string copy(bool crlf) {
        std::string text;
        for (char c : example) {
            if (crlf && c == '\n') text += '\r';
            text += c;
        }
        std::string path = folder.path(crlf ? "CRLF.INI" : "LF.INI");
        EXPECT_TRUE(write_bytes(path, text));
        return path;
    }

    std::string example;
    TempFolder folder;
};

TEST_F(PackageIni, HoldsEveryKeyAtItsDefault) {
    for (bool crlf : {false, true}) {
        std::string path = copy(crlf);
        for (const auto& key : DEFAULTS) {
            char value[64];
            profile_read_text("Quorvane", key[0], "<missing>", value, sizeof value, path.c_str());
            EXPECT_STREQ(value, key[1]) << key[0] << (crlf ? " (CR LF)" : " (LF)");
        }
    }
}

TEST_F(PackageIni, LoadsAsTheDefaultSettings) {
    for (bool crlf : {false, true}) {
        settings_reset_defaults();
        load_settings_from(copy(crlf).c_str());
        EXPECT_STREQ(settings.host, "");
        EXPECT_EQ(settings.port, 3300);
        EXPECT_EQ(settings.bredd, 640);
        EXPECT_EQ(settings.hojd, 480);
        EXPECT_EQ(settings.fps, 30);
        EXPECT_EQ(settings.fullskarm, 1);
        EXPECT_EQ(settings.ljud, 1);
        EXPECT_EQ(settings.ljudfrekvens, 22050);
        EXPECT_EQ(settings.stereo, 2);
        EXPECT_EQ(settings.muskanslighet, 100);
        EXPECT_EQ(settings.joystick, 1);
        EXPECT_NE(settings.namn[0], 0);  // the computer's name
        EXPECT_STREQ(settings.nyckel, "");
    }
}

TEST_F(PackageIni, SavingTheServerKeepsTheComments) {
    std::string path = copy(true);
    profile_write_text("Quorvane", "host", "192.168.1.10", path.c_str());
    load_settings_from(path.c_str());
    EXPECT_STREQ(settings.host, "192.168.1.10");

    std::string after = read_bytes(path);
    // Every comment line of the example is still there, in order.
    size_t from = 0;
    size_t start = 0;
    while (start < example.size()) {
        size_t end = example.find('\n', start);
        if (end == std::string::npos) end = example.size();
        std::string line = example.substr(start, end - start);
        if (!line.empty() && line[0] == ';') {
            size_t found = after.find(line, from);
            ASSERT_NE(found, std::string::npos) << "lost: " << line;
            from = found + line.size();
        }
        start = end + 1;
    }
    // The host line was replaced where it stood: before the port line.
    size_t host = after.find("host=192.168.1.10");
    ASSERT_NE(host, std::string::npos);
    EXPECT_LT(host, after.find("port=3300"));
    EXPECT_EQ(after.find("host=\r\n"), std::string::npos);
}

}  // namespace
