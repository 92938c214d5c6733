// The server's configuration file (TOML) and the menu it describes.
//
//   listen = "0.0.0.0:3300"     optional; the command line wins
//   key = "hemlig"              optional; the command line wins
//   keep_sessions = 10          optional; minutes a program outlives a lost link
//   quality = 70                optional; a fixed picture quality 1..100, or "auto" (the default); the command line wins
//   user = "quorvane"           optional; started as root, run as this user; the command line wins
//
//   [[app]]                     one per menu entry, in menu order; id = position, from 1
//   name = "Terminal"           menu text (UTF-8)
//   kind = "program"            program | screen | window | web | demo | moonlight
//   command = ["xterm"]         program: argv, run in a private X server
//   display = ":0"              screen, window: an existing X display
//   title = "Mousepad"          window: first top-level window whose title contains this
//   home = "https://..."        web: first page
//   search = "https://...%s"    web, optional: where text that is not an address goes
//   host = "192.168.1.20"       moonlight: the game stream host's address
//   port = 47989                moonlight, optional: its HTTP port
//   app = "Desktop"             moonlight, optional: the host's app; without
//                               it every app of the host is an entry "NAME: APP"
//   pointer = "locked"          moonlight, optional: "locked" (relative mouse) or "absolute"
#ifndef QV_SERVER_CONFIG_H
#define QV_SERVER_CONFIG_H

#include <cstdint>
#include <string>
#include <vector>

namespace qvs {

enum class AppKind { Program, Screen, Window, Web, Demo, Moonlight };

// True for entries that start programs for a client (not the demo, not an
// existing display's screen or window).
bool starts_programs(AppKind kind);

// The kind code the client's menu and StreamState know.
uint8_t menu_kind(AppKind kind);

struct AppEntry {
    uint16_t id = 0;                   // position in the menu, from 1
    std::string name;                  // UTF-8 menu text
    AppKind kind = AppKind::Demo;
    std::vector<std::string> command;  // program
    std::string display;               // screen, window
    std::string title;                 // window
    std::string home, search;          // web
    std::string host;                  // moonlight: address of the game stream host
    int port = 47989;                  // moonlight: its HTTP port
    std::string host_app;              // moonlight: the host's app; empty: any (the menu lists them)
    bool locked_pointer = false;       // moonlight: relative mouse instead of an absolute pointer
};

// FileSettings::quality for quality = "auto".
const int QUALITY_AUTO_SETTING = -1;

struct FileSettings {
    bool has_listen = false;
    std::string listen;                // "ADDRESS:PORT"
    bool has_key = false;
    std::string key;
    int keep_sessions = 10;            // minutes
    int quality = 0;                   // 1..100, QUALITY_AUTO_SETTING; 0: not given
    std::string user;                  // empty: not given
    std::vector<AppEntry> apps;
};

// Reads and checks a configuration file. On failure returns false with
// `error` set to one line naming the file, the line and what is wrong.
bool load_config(const std::string& path, FileSettings* out, std::string* error);

// $XDG_CONFIG_HOME/quorvane/server.toml or ~/.config/quorvane/server.toml
// when that file exists; else empty.
std::string default_config_path();

// The menu without a configuration file: a terminal, the screen of
// `display` when it is not empty, and the demo.
std::vector<AppEntry> builtin_menu(const std::string& display);

// Splits "ADDRESS:PORT"; false when it is not of that form.
bool parse_listen(const std::string& text, std::string* address, int* port);

// The part of a key that reaches the server: the client begins a character
// of its key only while fewer than 29 bytes are written.
size_t key_bytes_sent(const std::string& key);

}  // namespace qvs

#endif
