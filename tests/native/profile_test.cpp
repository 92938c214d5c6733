// The native settings-file layer: byte-for-byte keeping, reading like the platform, files left alone.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstring>
#include <string>
#include <thread>

#include "settings/profile.h"
#include "settings/profile_posix.h"
#include "settings/settings.h"
#include "tests/support/temp_files.h"

TEST(Profile, WritingAKeyKeepsEveryOtherByte) {
    TempFolder folder;
    std::string ini = folder.path("QUORVANE.INI");
    const char* const cases[][4] = {
        {"\r\n; top\r\n\r\n[Quorvane]\r\n   Port  =  5   ; old\r\n\r\n\tbredd=800\r\n\r\n\r\n[X]\r\n", "port", "3300",
         "\r\n; top\r\n\r\n[Quorvane]\r\nPort=3300\r\n\r\n\tbredd=800\r\n\r\n\r\n[X]\r\n"},
        {"[Quorvane]\r\nPort=3\r\n\r\n\tbredd=800\r\n\r\n[X]\r\n", "fps", "25",  // after the last non-blank line
         "[Quorvane]\r\nPort=3\r\n\r\n\tbredd=800\r\nfps=25\r\n\r\n[X]\r\n"},
        {"[Quorvane]\nhost=a", "port", "1", "[Quorvane]\nhost=a\nport=1\n"},
        {"[Andra]\r\nx=1", "port", "1", "[Andra]\r\nx=1\r\n[quorvane]\r\nport=1\r\n"},
        {"[Quorvane]", "port", "1", "[Quorvane]\r\nport=1\r\n"},
        {"[Quorvane]\nhost=a", "HOST", "b", "[Quorvane]\nhost=b"},
    };
    for (const auto& c : cases) {
        ASSERT_TRUE(write_bytes(ini, c[0]));
        EXPECT_EQ(profile_write_text("quorvane", c[1], c[2], ini.c_str()), 1);
        EXPECT_EQ(read_bytes(ini), c[3]);
    }
    const char head[] = "[Quorvane]\nhost=ab\0cd\nport\0xx=77\na=4294967297\nb=-4294967297\nq=\"\nc=";
    ASSERT_TRUE(write_bytes(ini, std::string(head, sizeof head - 1) + std::string(40, '9') + "\nd=" + std::string(40, '0') + "7\n"));
    char text[5];
    EXPECT_EQ(profile_read_text("Quorvane", "host", "-", text, 5, ini.c_str()), 2);  // NUL ends names and values
    EXPECT_EQ(std::to_string(profile_read_text("Quorvane", "missing", "fallback", text, 5, ini.c_str())) + text, "4fall");
    EXPECT_EQ(std::to_string(profile_read_text("Quorvane", "q", "-", text, 5, ini.c_str())) + text, "1\"");  // no pair of quotes
    uint32_t nines = 0;  // 29 characters count, modulo 2^32
    for (int i = 0; i < 29; i++) nines = nines * 10u + 9u;
    const struct { const char* key; int32_t value; } ints[] = {{"port", 77}, {"a", 1}, {"b", -1}, {"c", int32_t(nines)}, {"d", 0}};
    for (const auto& i : ints) EXPECT_EQ(profile_read_int("Quorvane", i.key, 5, ini.c_str()), i.value) << i.key;
}

TEST(Profile, FilesItMustNotTouch) {
    TempFolder folder;
    std::string ini = folder.path("QUORVANE.INI"), big = "[Quorvane]\nport=4000\n";
    while (big.size() + 1000 < (1u << 20) - 5) big += std::string(999, 'x') + "\n";  // beyond 1 MiB: read in part
    big += std::string((1u << 20) - 6 - big.size(), 'y') + "\nfps=123\nhojd=5\n";  // whole lines only: not fps=1
    ASSERT_TRUE(write_bytes(ini, big));
    EXPECT_EQ(profile_read_int("Quorvane", "port", 1, ini.c_str()) * 100 + profile_read_int("Quorvane", "fps", 7, ini.c_str()), 400007);
    EXPECT_EQ(profile_write_text("Quorvane", "port", "1", ini.c_str()), 0);  // and never written
    EXPECT_EQ(read_bytes(ini), big);
    ASSERT_TRUE(write_bytes(ini, "[Quorvane]\nport=4000\n"));  // a folder in the way of the temporary file
    ASSERT_TRUE(std::filesystem::create_directory(ini + ".qvtmp"));
    settings_reset_defaults();
    load_settings_from(ini.c_str());
    settings.port = 1;
    save_settings();
    EXPECT_EQ(read_bytes(ini), "[Quorvane]\nport=4000\n");
    EXPECT_EQ(profile_write_text("Quorvane", "port", "1", folder.folder.string().c_str()), 0);  // the file is a folder
    load_settings_from(("/" + std::string(400, 'p') + "/QUORVANE.INI").c_str());
    EXPECT_STREQ(settings_path, ".\\QUORVANE.INI");
    profile_test_fail_computer_name(1);
    load_settings_from(ini.c_str());
    profile_test_fail_computer_name(0);
    EXPECT_STREQ(settings.namn, "WIN98");
    settings_reset_defaults();
    // A file longer than its size says (as one that grows while read) is read on to its end.
    char* environment[] = {const_cast<char*>("A=\n[Quorvane]\nport=4321\n"), nullptr};
    pid_t child = fork();
    if (child == 0) execle("/bin/sleep", "sleep", "10", nullptr, environment), _exit(1);
    std::string grows = "/proc/" + std::to_string(child) + "/environ";
    int32_t port = 0;
    for (int i = 0; i < 3000 && (port = profile_read_int("Quorvane", "port", 1, grows.c_str())) != 4321; i++) usleep(1000);
    kill(child, SIGKILL), waitpid(child, nullptr, 0);
    EXPECT_EQ(port, 4321);
}

TEST(Profile, SnapshotsNeverSeeAHalfWrittenRecord) {
    settings_reset_defaults();  // makes settings_lock
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
    settings_reset_defaults();
}
