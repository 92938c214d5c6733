// What the entry point hands to WinMain as the command-line text.
#include <gtest/gtest.h>

#include "app/command_line.h"

namespace {

struct Case {
    const char* line;
    const char* arguments;
};

TEST(CommandLine, ArgumentsFollowTheProgramName) {
    const Case cases[] = {
        {"C:\\QV\\QUORVANE.EXE 192.168.1.5", "192.168.1.5"},
        {"\"C:\\Program Files\\QV\\quorvane.exe\" server.lan", "server.lan"},
        {"quorvane.exe  \t host", "host"},                  // every blank after the name goes
        {"quorvane.exe host  ", "host  "},                  // blanks at the end stay
        {"quorvane.exe a b", "a b"},                        // one text, not split
        {"\"quorvane.exe\"host", "host"},                   // a closing quote ends the name
        {"\"C:\\My Games\\q.exe\"\thost", "host"},
        {"quorvane.exe \"quoted host\"", "\"quoted host\""},  // taken unchanged
    };
    for (const Case& c : cases) {
        EXPECT_STREQ(command_line_arguments(c.line), c.arguments) << "line: " << c.line;
    }
}

TEST(CommandLine, NoArgumentsGiveAnEmptyText) {
    const char* lines[] = {"quorvane.exe", "quorvane.exe   ", "\"C:\\a b\\quorvane.exe\"",
                           "\"C:\\a b\\quorvane.exe\"  ", "", "\"never closed host", "\""};
    for (const char* line : lines) {
        EXPECT_STREQ(command_line_arguments(line), "") << "line: " << line;
    }
    EXPECT_STREQ(command_line_arguments(nullptr), "");
}

TEST(CommandLine, PointsIntoTheLineItself) {
    // WinMain gets the system's own text, not a copy that could be cut short.
    const char line[] = "\"C:\\q.exe\" 10.0.0.1";
    EXPECT_EQ(command_line_arguments(line), line + 11);
}

}  // namespace
