// QUORVANE.INI on disk (our reader natively, the platform's under Wine) and the dialog's rules.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "settings/dialog_rules.h"
#include "settings/profile.h"
#include "settings/settings.h"
#include "tests/support/temp_files.h"

namespace {

std::string machine_name() {
    char name[NAME_SIZE];
    return computer_name(name, NAME_SIZE) ? name : "WIN98";
}

// The record as one line, in the file's order.
std::string record() {
    const Settings& s = settings;
    std::string out = s.host;
    for (int32_t v : {s.port, s.bredd, s.hojd, s.fps, s.fullskarm, s.ljud, s.ljudfrekvens, s.stereo, s.muskanslighet, s.joystick})
        out += "|" + std::to_string(v);
    return out + "|" + (s.namn == machine_name() ? "<machine>" : s.namn) + "|" + s.nyckel;
}

const char* const DEFAULTS = "|3300|640|480|30|1|1|22050|2|100|1|<machine>|";

class SettingsFile : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(folder.ok());
        settings_reset_defaults();
        ini = folder.path("QUORVANE.INI");
    }
    void TearDown() override { settings_reset_defaults(); }
    std::string load(const std::string& text) {
        settings_reset_defaults();
        EXPECT_TRUE(write_bytes(ini, text));
        load_settings_from(ini.c_str());
        return record();
    }
    TempFolder folder;
    std::string ini;
};

}  // namespace

TEST_F(SettingsFile, ReadingAppliesTheBoundsAndTheReadersRules) {
    load_settings_from(ini.c_str());  // missing: defaults, nothing created
    EXPECT_EQ(record(), DEFAULTS);
    EXPECT_EQ(read_bytes(ini), "<missing>");
    EXPECT_EQ(std::string(settings_path), ini);
    const struct { const char* lines; const char* record; } cases[] = {
        {"bredd=159\r\nhojd=119\r\nfps=4", "|3300|640|480|30|1|1|22050|2|100|1|<machine>|"},
        {"bredd=160\r\nhojd=120\r\nfps=5", "|3300|160|120|5|1|1|22050|2|100|1|<machine>|"},
        {"bredd=1024\r\nhojd=768\r\nfps=60", "|3300|1024|768|60|1|1|22050|2|100|1|<machine>|"},
        {"bredd=1025\r\nhojd=769\r\nfps=61", "|3300|640|480|30|1|1|22050|2|100|1|<machine>|"},
        {"bredd=-800\r\nhojd=300\r\nfps=0\r\nport=0\r\nljudfrekvens=0\r\nmuskanslighet=-100\r\nfullskarm=5",
         "|0|640|300|30|5|1|0|2|-100|1|<machine>|"},
        {"stereo=0\r\nnamn=\r\nhost=192.168.1.20", "192.168.1.20|3300|640|480|30|1|1|22050|1|100|1|<machine>|"},
        {"stereo=-1\r\nHOST=server.lan\r\nPort=4000\r\nNaMn=RETRO\r\nNYCKEL=hemlis",
         "server.lan|4000|640|480|30|1|1|22050|2|100|1|RETRO|hemlis"},
        // Leading digits after blanks and one sign; no digits read as 0; empty is the default.
        {"port=  4000  \r\nbredd=abc\r\nhojd=600px\r\nfps=+25\r\nljudfrekvens=\r\nmuskanslighet=-50%\r\n"
         "joystick=1.9\r\nfullskarm=\"0\"\r\nljud=x1",
         "|4000|640|600|25|0|0|22050|2|-50|1|<machine>|"},
        {"host=  spaced.example  \r\nnyckel='x y'", "spaced.example|3300|640|480|30|1|1|22050|2|100|1|<machine>|x y"},
    };
    for (const auto& c : cases) EXPECT_EQ(load("[Quorvane]\r\n" + std::string(c.lines) + "\r\n"), c.record) << c.lines;
    load("[Quorvane]\r\nhost=" + std::string(300, 'h') + "\r\nnamn=" + std::string(40, 'n') +
         "\r\nnyckel=\"" + std::string(33, 'k') + "\"\r\n");
    EXPECT_EQ(std::string(settings.host) + settings.namn + settings.nyckel,
              std::string(127, 'h') + std::string(32, 'n') + std::string(32, 'k'));
    EXPECT_EQ(load("; settings\r\nport=1\r\n[Andra]\r\nport=2\r\nhost=fel\r\n[ Quorvane ]\r\nhost=ratt\r\n"
                   "fps\r\n;bredd=800\r\n[Tredje]\r\nbredd=800\r\n[QUORVANE]\r\nhojd=600\r\nport=3\r\n"),
              "ratt" + std::string(DEFAULTS));
}

TEST_F(SettingsFile, SavingKeepsWhatItDoesNotOwn) {
    load_settings_from(ini.c_str());
    save_settings();
    EXPECT_EQ(read_bytes(ini), "[Quorvane]\r\nhost=\r\nport=3300\r\nbredd=640\r\nhojd=480\r\nfps=30\r\n"
                               "fullskarm=1\r\nljud=1\r\nljudfrekvens=22050\r\nstereo=1\r\n"
                               "muskanslighet=100\r\njoystick=1\r\nnamn=" + machine_name() + "\r\nnyckel=\r\n");
    load("; by hand\r\n[Andra]\r\nport=1\r\n[quorvane]\r\nfps=25\r\n; my server\r\nHOST=old.lan\r\n"
         "okand=behalls\r\n[Tredje]\r\nx=y\r\n");
    std::strcpy(settings.host, "new.lan");
    settings.port = 70000;
    settings.stereo = 1;
    settings.muskanslighet = -2147483647 - 1;
    std::memset(settings.nyckel, 'k', NAME_SIZE);  // no terminator: saved cut to its 32 characters
    save_settings();
    EXPECT_EQ(read_bytes(ini), "; by hand\r\n[Andra]\r\nport=1\r\n[quorvane]\r\nfps=25\r\n; my server\r\n"
                               "HOST=new.lan\r\nokand=behalls\r\nport=70000\r\nbredd=640\r\nhojd=480\r\n"
                               "fullskarm=1\r\nljud=1\r\nljudfrekvens=22050\r\nstereo=0\r\n"
                               "muskanslighet=-2147483648\r\njoystick=1\r\nnamn=" + machine_name() +
                                   "\r\nnyckel=" + std::string(32, 'k') + "\r\n[Tredje]\r\nx=y\r\n");
    settings_reset_defaults();
    load_settings_from(ini.c_str());
    EXPECT_EQ(record(), "new.lan|70000|640|480|25|1|1|22050|1|-2147483648|1|<machine>|" + std::string(32, 'k'));
    load("[Andra]\r\na=1\r\n");
    save_settings();
    EXPECT_EQ(read_bytes(ini).rfind("[Andra]\r\na=1\r\n[Quorvane]\r\nhost=\r\nport=3300\r\n", 0), 0u);
    std::strcpy(settings.host, "evil\r\nport=1");
    save_settings();
    load_settings_from(ini.c_str());
    EXPECT_EQ(record(), "evil" + std::string(DEFAULTS));
    std::filesystem::remove(ini);
    write_int_setting("port", -7);
    write_int_setting("bredd", 2147483647);
    write_int_setting("PORT", 0);
    EXPECT_EQ(read_bytes(ini), "[Quorvane]\r\nport=0\r\nbredd=2147483647\r\n");
}

TEST_F(SettingsFile, ThePackagedExampleIsTheDefaultsAndKeepsItsComments) {
    const char* root = std::getenv("QV_SOURCE_DIR");
    ASSERT_NE(root, nullptr) << "QV_SOURCE_DIR must name the source tree";
    std::string example = read_bytes(std::string(root) + "/package/win98/QUORVANE.INI"), crlf;
    ASSERT_NE(example, "<missing>");
    for (char c : example) crlf += c == '\n' ? "\r\n" : std::string(1, c);
    EXPECT_EQ(load(example), DEFAULTS);
    EXPECT_EQ(load(crlf), DEFAULTS);
    profile_write_text("Quorvane", "host", "192.168.1.10", ini.c_str());  // in its place, the comments kept
    std::string after = read_bytes(ini);
    for (size_t at = 0; (at = crlf.find(';', at)) != std::string::npos; at++)
        EXPECT_NE(after.find(crlf.substr(at, crlf.find('\r', at) - at)), std::string::npos) << "lost: " << crlf.substr(at, 40);
    EXPECT_LT(after.find("host=192.168.1.10\r\n"), after.find("port=3300"));
}

TEST_F(SettingsFile, ThePathIsBesideTheProgramOrInTheCurrentFolder) {
    std::string longest = "C:\\" + std::string(SETTINGS_PATH_SIZE - 17, 'd') + "\\";
    const struct { std::string program, path; } cases[] = {
        {"C:\\QUORVANE\\QUORVANE.EXE", "C:\\QUORVANE\\QUORVANE.INI"},
        {"C:\\a.b\\c\\prog.exe", "C:\\a.b\\c\\QUORVANE.INI"}, {"quorvane.exe", ".\\QUORVANE.INI"},
        {"/usr/bin/quorvane", ".\\QUORVANE.INI"}, {"", ".\\QUORVANE.INI"}, {"C:\\", "C:\\QUORVANE.INI"},
        {longest + "q.exe", longest + "QUORVANE.INI"},
        {"C:\\" + std::string(SETTINGS_PATH_SIZE - 16, 'd') + "\\q.exe", ".\\QUORVANE.INI"},
        {"C:\\" + std::string(5000, 'd') + "\\q.exe", ".\\QUORVANE.INI"},
    };
    for (const auto& c : cases) {
        char out[SETTINGS_PATH_SIZE + 8];
        std::memset(out, 'Z', sizeof out);
        make_settings_path(c.program.c_str(), out);
        EXPECT_EQ(std::string(out), c.path) << c.program.size();
        EXPECT_EQ(out[SETTINGS_PATH_SIZE], 'Z');
    }
    load_settings();  // beside this program under Wine; natively (no backslashes) the current folder
    char program[SETTINGS_PATH_SIZE], expected[SETTINGS_PATH_SIZE];
    program_path(program, SETTINGS_PATH_SIZE), make_settings_path(program, expected);
    EXPECT_STREQ(settings_path, expected);
    std::error_code error;
    const auto previous = std::filesystem::current_path(error);
    std::filesystem::current_path(folder.folder, error);
    ASSERT_FALSE(error);
    ASSERT_TRUE(write_bytes("QUORVANE.INI", "[Quorvane]\r\nport=4321\r\n"));
    load_settings_from("");
    settings.fps = 12;
    save_settings();
    std::filesystem::current_path(previous, error);
    EXPECT_STREQ(settings_path, ".\\QUORVANE.INI");
    EXPECT_EQ(settings.port, 4321);
    EXPECT_NE(read_bytes(folder.path("QUORVANE.INI")).find("\r\nfps=12\r\n"), std::string::npos);
}

TEST(DialogRules, TypedNumbers) {
    const struct { std::string text; int32_t number, port, fps; } cases[] = {
        {"3300abc", 3300, 3300, 30}, {" \t\r42", 42, 42, 42}, {"-5", -5, 3300, 30}, {"+17x", 17, 17, 17},
        {"abc", 0, 3300, 30},        {"- 5", 0, 3300, 30},    {"--5", 0, 3300, 30}, {"4", 4, 4, 30},
        {"5", 5, 5, 5},              {"60", 60, 60, 60},      {"61", 61, 61, 30},   {"1", 1, 1, 30},
        {"2147483646", 2147483646, 2147483646, 30}, {"0", 0, 3300, 30},
        {"2147483648", 2147483647, 2147483647, 30}, {"4294967321", 2147483647, 2147483647, 30},  // no wrapping
        {"-2147483648", -2147483647 - 1, 3300, 30}, {"-" + std::string(500, '9'), -2147483647 - 1, 3300, 30},
        {std::string(62, '0') + "7", 7, 7, 7}, {std::string(63, '0') + "7", 7, 3300, 30},  // 63 characters are read
    };
    for (const auto& c : cases) {
        EXPECT_EQ(dialog_text_to_int(c.text.c_str()), c.number) << c.text;
        EXPECT_EQ(dialog_port_value(c.text.c_str()), c.port) << c.text;
        EXPECT_EQ(dialog_fps_value(c.text.c_str()), c.fps) << c.text;
    }
}

TEST(DialogRules, ResolutionListAndConfirmation) {
    const char* texts[] = {"640 x 480 (standard)", "320 x 240 (sn\xE5l)", "800 x 600"};
    for (int i = 0; i < RESOLUTION_COUNT; i++) EXPECT_STREQ(RESOLUTION_CHOICES[i].text, texts[i]);
    const int32_t rows[][4] = {{-1, 640, 480, 0}, {0, 640, 480, 0}, {1, 320, 240, 1},
                               {2, 800, 600, 2},  {3, 640, 480, 0}, {-7, 640, 480, 0}};
    for (const auto& r : rows) {
        int32_t bredd = 0, hojd = 0;
        resolution_at_position(int(r[0]), &bredd, &hojd);
        EXPECT_EQ(bredd * 10000 + hojd, r[1] * 10000 + r[2]) << r[0];
        EXPECT_EQ(resolution_position_for(r[1]), r[3]);
    }
    EXPECT_EQ(resolution_position_for(1024) + resolution_position_for(0), 0);
    settings_reset_defaults();
    settings.stereo = 1;
    const std::string long_host(200, 'h');
    DialogValues values = {long_host.c_str(), "3300abc", "RETRO-PC", "hemlig-nyckel-som-ar-alldeles-for-lang",
                           "61", -1, 0, 1};
    store_dialog_values(&values);
    EXPECT_EQ(record(), std::string(127, 'h') + "|3300|640|480|30|0|1|22050|1|100|1|RETRO-PC|hemlig-nyckel-som-ar-alldeles-fo");
    DialogValues other = {"server", "-1", "", "", "5", 2, 7, 0};
    store_dialog_values(&other);
    EXPECT_EQ(record(), "server|3300|800|600|5|1|0|22050|1|100|1||");
    settings_reset_defaults();
}
