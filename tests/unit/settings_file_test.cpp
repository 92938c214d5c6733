// QUORVANE.INI as the user and the program see it on disk. These tests run
// natively against our own file reader and under Wine against the
// platform's private-profile functions; both must give the same results, so
// the files here avoid what the two may lay out differently (blank lines,
// blanks around '=' in lines that get rewritten).
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "settings/profile.h"
#include "settings/settings.h"
#include "tests/support/temp_files.h"

namespace {

class SettingsFile : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(folder.ok());
        settings_reset_defaults();
        ini = folder.path("QUORVANE.INI");
    }
    void TearDown() override { settings_reset_defaults(); }

    // Writes `text` as the settings file and loads it.
    void load(const std::string& text) {
        ASSERT_TRUE(write_bytes(ini, text));
        load_settings_from(ini.c_str());
    }

    static std::string machine_name() {
        char name[NAME_SIZE];
        if (!computer_name(name, NAME_SIZE)) return "WIN98";
        return name;
    }

    TempFolder folder;
    std::string ini;
};

TEST_F(SettingsFile, MissingFileGivesDefaultsAndCreatesNothing) {
    load_settings_from(ini.c_str());
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
    EXPECT_EQ(std::string(settings.namn), machine_name());
    EXPECT_NE(settings.namn[0], 0);
    EXPECT_STREQ(settings.nyckel, "");
    EXPECT_EQ(std::string(settings_path), ini);
    EXPECT_FALSE(file_exists(ini));
}

TEST_F(SettingsFile, BoundsAreInclusiveAndFallBackToTheirOwnDefault) {
    struct Case {
        const char* key;
        int value;
        int expected;
        int32_t Settings::*field;
    };
    const Case cases[] = {
        {"bredd", 159, 640, &Settings::bredd},  {"bredd", 160, 160, &Settings::bredd},
        {"bredd", 1024, 1024, &Settings::bredd}, {"bredd", 1025, 640, &Settings::bredd},
        {"bredd", -800, 640, &Settings::bredd}, {"hojd", 119, 480, &Settings::hojd},
        {"hojd", 120, 120, &Settings::hojd},    {"hojd", 768, 768, &Settings::hojd},
        {"hojd", 769, 480, &Settings::hojd},    {"fps", 4, 30, &Settings::fps},
        {"fps", 5, 5, &Settings::fps},          {"fps", 60, 60, &Settings::fps},
        {"fps", 61, 30, &Settings::fps},        {"fps", 0, 30, &Settings::fps},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.key) + "=" + std::to_string(c.value));
        settings_reset_defaults();
        load("[Quorvane]\r\n" + std::string(c.key) + "=" + std::to_string(c.value) + "\r\n");
        EXPECT_EQ(settings.*c.field, c.expected);
    }
}

TEST_F(SettingsFile, EachBoundIsAppliedOnItsOwn) {
    load("[Quorvane]\r\nbredd=100\r\nhojd=300\r\nfps=61\r\nport=0\r\nljudfrekvens=0\r\n"
         "muskanslighet=-100\r\nfullskarm=5\r\n");
    EXPECT_EQ(settings.bredd, 640);
    EXPECT_EQ(settings.hojd, 300);
    EXPECT_EQ(settings.fps, 30);
    // Unbounded fields are taken as read.
    EXPECT_EQ(settings.port, 0);
    EXPECT_EQ(settings.ljudfrekvens, 0);
    EXPECT_EQ(settings.muskanslighet, -100);
    EXPECT_EQ(settings.fullskarm, 5);
}

TEST_F(SettingsFile, StereoMapsToAChannelCountAndSavesAsOne) {
    load("[Quorvane]\r\nstereo=0\r\n");
    EXPECT_EQ(settings.stereo, 1);
    load("[Quorvane]\r\nstereo=7\r\n");
    EXPECT_EQ(settings.stereo, 2);
    save_settings();
    std::string text = read_bytes(ini);
    EXPECT_NE(text.find("\r\nstereo=1\r\n"), std::string::npos) << text;
    load("[Quorvane]\r\nstereo=-1\r\n");
    EXPECT_EQ(settings.stereo, 2);
    settings.stereo = 1;
    save_settings();
    EXPECT_NE(read_bytes(ini).find("\r\nstereo=0\r\n"), std::string::npos);
}

TEST_F(SettingsFile, NamesMatchWithoutRegardToCase) {
    load("[qUORVANE]\r\nHOST=server.lan\r\nPort=4000\r\nBredd=800\r\nHOJD=600\r\n"
         "NaMn=RETRO\r\nNYCKEL=hemlis\r\nStereo=0\r\n");
    EXPECT_STREQ(settings.host, "server.lan");
    EXPECT_EQ(settings.port, 4000);
    EXPECT_EQ(settings.bredd, 800);
    EXPECT_EQ(settings.hojd, 600);
    EXPECT_STREQ(settings.namn, "RETRO");
    EXPECT_STREQ(settings.nyckel, "hemlis");
    EXPECT_EQ(settings.stereo, 1);
}

TEST_F(SettingsFile, MalformedNumbersReadLikeTheProfileIntegerReader) {
    // Leading digits count, after blanks and one sign; no digits reads as 0
    // (and then the bounds apply); an empty value is the default.
    load("[Quorvane]\r\nport=  4000  \r\nbredd=abc\r\nhojd=600px\r\nfps=+25\r\n"
         "ljudfrekvens=\r\nmuskanslighet=-50%\r\njoystick=1.9\r\nfullskarm=\"0\"\r\nljud=x1\r\n");
    EXPECT_EQ(settings.port, 4000);
    EXPECT_EQ(settings.bredd, 640);
    EXPECT_EQ(settings.hojd, 600);
    EXPECT_EQ(settings.fps, 25);
    EXPECT_EQ(settings.ljudfrekvens, 22050);
    EXPECT_EQ(settings.muskanslighet, -50);
    EXPECT_EQ(settings.joystick, 1);
    EXPECT_EQ(settings.fullskarm, 0);
    EXPECT_EQ(settings.ljud, 0);
}

TEST_F(SettingsFile, TextsAreCutToTheirFieldsAndQuotesRemoved) {
    std::string long_host(300, 'h');
    std::string long_name(40, 'n');
    load("[Quorvane]\r\nhost=" + long_host + "\r\nnamn=" + long_name + "\r\nnyckel=\"" +
         std::string(33, 'k') + "\"\r\n");
    EXPECT_EQ(std::string(settings.host), std::string(127, 'h'));
    EXPECT_EQ(std::string(settings.namn), std::string(32, 'n'));
    EXPECT_EQ(std::string(settings.nyckel), std::string(32, 'k'));

    load("[Quorvane]\r\nhost=  spaced.example  \r\nnyckel='x y'\r\n");
    EXPECT_STREQ(settings.host, "spaced.example");
    EXPECT_STREQ(settings.nyckel, "x y");
}

TEST_F(SettingsFile, OnlyTheFirstQuorvaneSectionCounts) {
    load("; settings\r\nport=1\r\n[Andra]\r\nport=2\r\nhost=fel\r\n[ Quorvane ]\r\nhost=ratt\r\n"
         "fps\r\n;bredd=800\r\n[Tredje]\r\nbredd=800\r\n[QUORVANE]\r\nhojd=600\r\nport=3\r\n");
    EXPECT_STREQ(settings.host, "ratt");
    EXPECT_EQ(settings.port, 3300);   // only in other sections
    EXPECT_EQ(settings.fps, 30);      // a key without '=' is missing
    EXPECT_EQ(settings.bredd, 640);   // commented out here, set elsewhere
    EXPECT_EQ(settings.hojd, 480);    // in a second section of the same name
}

TEST_F(SettingsFile, SectionWithOnlyAHostLine) {
    load("[Quorvane]\r\nhost=192.168.1.20\r\n");
    EXPECT_STREQ(settings.host, "192.168.1.20");
    EXPECT_EQ(settings.port, 3300);
    EXPECT_EQ(settings.bredd, 640);
    EXPECT_EQ(settings.stereo, 2);
    EXPECT_EQ(std::string(settings.namn), machine_name());
}

TEST_F(SettingsFile, EmptyNameIsTheComputersName) {
    load("[Quorvane]\r\nnamn=\r\n");
    EXPECT_EQ(std::string(settings.namn), machine_name());
}

TEST_F(SettingsFile, GarbageLinesAreSurvivedAndSkipped) {
    // Long lines, control bytes, bytes above 0x7F and stray brackets around
    // the real keys; the reader must neither fail nor pick up a wrong key.
    std::string garbage;
    unsigned seed = 12345;
    for (int i = 0; i < 6000; i++) {
        seed = seed * 1103515245u + 12345u;
        char c = static_cast<char>((seed >> 16) & 0xFF);
        if (c == '\n' || c == '[' || c == 0 || c == '\r') c = '#';
        garbage += c;
    }
    std::string text = "#" + garbage + "\r\n[Quorvane]\r\n#" + garbage + "\r\nport=4242\r\n" +
                       "x" + std::string(70000, 'y') + "\r\n]broken[\r\n[half\r\nfps=12\r\n#" +
                       garbage + "\r\n";
    load(text);
    EXPECT_EQ(settings.port, 4242);
    EXPECT_EQ(settings.fps, 12);  // "[half" is no section line
    EXPECT_EQ(settings.bredd, 640);
}

TEST_F(SettingsFile, SavingFromScratchWritesThirteenLinesInOrder) {
    load_settings_from(ini.c_str());
    save_settings();
    std::string expected = "[Quorvane]\r\nhost=\r\nport=3300\r\nbredd=640\r\nhojd=480\r\nfps=30\r\n"
                           "fullskarm=1\r\nljud=1\r\nljudfrekvens=22050\r\nstereo=1\r\n"
                           "muskanslighet=100\r\njoystick=1\r\nnamn=" +
                           machine_name() + "\r\nnyckel=\r\n";
    EXPECT_EQ(read_bytes(ini), expected);
}

TEST_F(SettingsFile, SavingKeepsOtherSectionsCommentsAndPlaces) {
    const std::string before =
        "; Quorvane settings, edited by hand\r\n"
        "[Andra]\r\nport=1\r\nhost=annan\r\n"
        "[quorvane]\r\nfps=25\r\n; my server\r\nHOST=old.lan\r\nokand=behalls\r\n"
        "[Tredje]\r\n;slut\r\nx=y\r\n";
    load(before);
    std::strcpy(settings.host, "new.lan");
    settings.port = 70000;
    settings.fullskarm = 5;
    settings.muskanslighet = -2147483647 - 1;
    std::strcpy(settings.nyckel, "k");
    save_settings();
    const std::string after =
        "; Quorvane settings, edited by hand\r\n"
        "[Andra]\r\nport=1\r\nhost=annan\r\n"
        "[quorvane]\r\nfps=25\r\n; my server\r\nHOST=new.lan\r\nokand=behalls\r\n"
        "port=70000\r\nbredd=640\r\nhojd=480\r\nfullskarm=5\r\nljud=1\r\nljudfrekvens=22050\r\n"
        "stereo=1\r\nmuskanslighet=-2147483648\r\njoystick=1\r\nnamn=" +
        machine_name() + "\r\nnyckel=k\r\n"
        "[Tredje]\r\n;slut\r\nx=y\r\n";
    EXPECT_EQ(read_bytes(ini), after);

    // And it reads back as saved.
    settings_reset_defaults();
    load_settings_from(ini.c_str());
    EXPECT_STREQ(settings.host, "new.lan");
    EXPECT_EQ(settings.port, 70000);
    EXPECT_EQ(settings.fps, 25);
    EXPECT_EQ(settings.muskanslighet, -2147483647 - 1);
    EXPECT_STREQ(settings.nyckel, "k");
}

TEST_F(SettingsFile, SavingAddsTheSectionToAFileWithoutIt) {
    load("[Andra]\r\na=1\r\n");
    save_settings();
    std::string text = read_bytes(ini);
    ASSERT_EQ(text.rfind("[Andra]\r\na=1\r\n[Quorvane]\r\nhost=\r\nport=3300\r\n", 0), 0u) << text;
    const std::string tail = "\r\nnyckel=\r\n";
    ASSERT_GE(text.size(), tail.size());
    EXPECT_EQ(text.substr(text.size() - tail.size()), tail);
    EXPECT_EQ(text.find("[Quorvane]"), text.rfind("[Quorvane]"));
}

TEST_F(SettingsFile, ALineBreakInATextCannotAddLines) {
    load_settings_from(ini.c_str());
    std::strcpy(settings.host, "evil\r\nport=1");
    save_settings();
    settings_reset_defaults();
    load_settings_from(ini.c_str());
    EXPECT_STREQ(settings.host, "evil");
    EXPECT_EQ(settings.port, 3300);
}

TEST_F(SettingsFile, WriteIntSettingWritesSignedDecimal) {
    load_settings_from(ini.c_str());
    write_int_setting("port", -7);
    write_int_setting("bredd", 2147483647);
    EXPECT_EQ(read_bytes(ini), "[Quorvane]\r\nport=-7\r\nbredd=2147483647\r\n");
    write_int_setting("PORT", 0);
    EXPECT_EQ(read_bytes(ini), "[Quorvane]\r\nport=0\r\nbredd=2147483647\r\n");
}

TEST(SettingsPath, IsTheProgramsFolderOrTheNameAlone) {
    char out[SETTINGS_PATH_SIZE + 8];
    auto path_for = [&](const std::string& program) {
        std::memset(out, 'Z', sizeof out);
        make_settings_path(program.c_str(), out);
        for (size_t i = SETTINGS_PATH_SIZE; i < sizeof out; i++) EXPECT_EQ(out[i], 'Z');
        return std::string(out);
    };
    EXPECT_EQ(path_for("C:\\QUORVANE\\QUORVANE.EXE"), "C:\\QUORVANE\\QUORVANE.INI");
    EXPECT_EQ(path_for("C:\\a.b\\c\\prog.exe"), "C:\\a.b\\c\\QUORVANE.INI");
    EXPECT_EQ(path_for("quorvane.exe"), ".\\QUORVANE.INI");
    EXPECT_EQ(path_for("/usr/bin/quorvane"), ".\\QUORVANE.INI");
    EXPECT_EQ(path_for(""), ".\\QUORVANE.INI");
    EXPECT_EQ(path_for("C:\\"), "C:\\QUORVANE.INI");

    // The longest folder that still leaves room for the name and its NUL.
    std::string folder = "C:\\" + std::string(SETTINGS_PATH_SIZE - 13 - 4, 'd') + "\\";
    ASSERT_EQ(folder.size() + 12 + 1, static_cast<size_t>(SETTINGS_PATH_SIZE));
    EXPECT_EQ(path_for(folder + "q.exe"), folder + "QUORVANE.INI");
    EXPECT_EQ(path_for("C:\\" + std::string(SETTINGS_PATH_SIZE - 12 - 4, 'd') + "\\q.exe"),
              ".\\QUORVANE.INI");
    EXPECT_EQ(path_for("C:\\" + std::string(5000, 'd') + "\\q.exe"), ".\\QUORVANE.INI");
}

// Without a folder of its own the file is the current folder's, not the
// Windows folder's (where the platform looks for a bare file name).
TEST(SettingsPath, WithoutAFolderTheCurrentFolderIsUsed) {
    TempFolder folder;
    ASSERT_TRUE(folder.ok());
    std::error_code error;
    const auto previous = std::filesystem::current_path(error);
    std::filesystem::current_path(folder.folder(), error);
    ASSERT_FALSE(error);
    ASSERT_TRUE(write_bytes("QUORVANE.INI", "[Quorvane]\r\nport=4321\r\n"));
    settings_reset_defaults();
    load_settings_from("");
    EXPECT_STREQ(settings_path, ".\\QUORVANE.INI");
    EXPECT_EQ(settings.port, 4321);
    settings.fps = 12;
    save_settings();
    EXPECT_NE(read_bytes(folder.path("QUORVANE.INI")).find("\r\nfps=12\r\n"), std::string::npos);
    std::filesystem::current_path(previous, error);
    settings_reset_defaults();
}

TEST(SettingsPath, LoadSettingsLooksBesideTheProgram) {
    settings_reset_defaults();
    load_settings();
    char program[SETTINGS_PATH_SIZE];
    char expected[SETTINGS_PATH_SIZE];
    if (program_path(program, SETTINGS_PATH_SIZE) <= 0) program[0] = 0;
    make_settings_path(program, expected);
    EXPECT_STREQ(settings_path, expected);
    const size_t n = std::strlen(settings_path);
    ASSERT_GE(n, 12u);
    EXPECT_STREQ(settings_path + n - 12, "QUORVANE.INI");
    settings_reset_defaults();
}

}  // namespace
