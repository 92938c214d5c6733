// Reading the configuration file with toml++, and the built-in menu.
#include "server/config.h"

#include <sys/stat.h>

#include <cstdlib>
#include <set>
#include <sstream>

#include <toml++/toml.h>

namespace qvs {

namespace {

// Keys a file may hold; anything else is most likely a typing error.
const std::set<std::string> TOP_KEYS = {"listen", "key", "keep_sessions", "quality", "user", "app"};
const std::set<std::string> APP_KEYS = {"name", "kind", "command", "display", "title", "home", "search",
                                      "host", "port", "app", "pointer"};

struct Kind {
    const char* name;
    AppKind kind;
};
const Kind KINDS[] = {{"program", AppKind::Program}, {"screen", AppKind::Screen}, {"window", AppKind::Window},
                      {"web", AppKind::Web},         {"demo", AppKind::Demo},
                      {"moonlight", AppKind::Moonlight}};

// A message quotes the file (a key, a value, the character toml++ choked
// on), which may hold line breaks: the message stays one line.
std::string one_line(std::string text) {
    for (char& ch : text)
        if (uint8_t(ch) < 0x20 || ch == 0x7F) ch = '?';
    return text;
}

// Collects the first problem with its line.
class Checker {
public:
    explicit Checker(const std::string& path) : path_(path) {}

    bool fail(const toml::source_region& where, const std::string& what) {
        if (error_.empty()) {
            std::ostringstream s;
            s << path_ << ":" << where.begin.line << ": " << what;
            error_ = one_line(s.str());
        }
        return false;
    }
    const std::string& error() const { return error_; }

    // A string value of `table[key]`; false (and a message) when it is
    // missing (and required) or not a non-empty string.
    bool text(const toml::table& table, const char* key, bool required, const std::string& context,
              std::string* out) {
        const toml::node* node = table.get(key);
        if (!node) return required ? fail(table.source(), context + "missing key '" + key + "'") : true;
        const auto* value = node->as_string();
        if (!value) return fail(node->source(), context + "'" + key + "' must be a text in quotes");
        if (value->get().empty()) return fail(node->source(), context + "'" + key + "' is empty");
        *out = value->get();
        return true;
    }

    bool known_keys(const toml::table& table, const std::set<std::string>& known, const std::string& context) {
        for (const auto& [key, node] : table)
            if (!known.count(std::string(key.str())))
                return fail(node.source(), context + "unknown key '" + std::string(key.str()) + "'");
        return true;
    }

private:
    std::string path_;
    std::string error_;
};

bool read_moonlight(Checker& c, const toml::table& t, const std::string& context, AppEntry* e) {
    if (!c.text(t, "host", true, context, &e->host) || !c.text(t, "app", false, context, &e->host_app)) return false;
    if (const toml::node* node = t.get("port")) {
        const auto* port = node->as_integer();
        if (!port || port->get() < 1 || port->get() > 65535)
            return c.fail(node->source(), context + "'port' must be a port number, 1 to 65535");
        e->port = int(port->get());
    }
    std::string pointer = "absolute";
    if (!c.text(t, "pointer", false, context, &pointer)) return false;
    if (pointer != "absolute" && pointer != "locked")
        return c.fail(t.get("pointer")->source(), context + "'pointer' must be \"locked\" or \"absolute\"");
    e->locked_pointer = pointer == "locked";
    return true;
}

bool read_app(Checker& c, const toml::table& t, uint16_t id, AppEntry* e) {
    std::string context = "[[app]] number " + std::to_string(id) + ": ";
    e->id = id;
    std::string kind;
    if (!c.known_keys(t, APP_KEYS, context) || !c.text(t, "name", true, context, &e->name) ||
        !c.text(t, "kind", true, context, &kind))
        return false;
    if (e->name.size() > 255) return c.fail(t.get("name")->source(), context + "'name' is longer than 255 bytes");
    bool found = false;
    for (const Kind& k : KINDS)
        if (kind == k.name) e->kind = k.kind, found = true;
    if (!found)
        return c.fail(t.get("kind")->source(),
                      context + "unknown kind '" + kind + "' (program, screen, window, web, demo or moonlight)");
    switch (e->kind) {
    case AppKind::Program: {
        const toml::node* node = t.get("command");
        if (!node) return c.fail(t.source(), context + "missing key 'command'");
        const toml::array* argv = node->as_array();
        if (!argv || argv->empty())
            return c.fail(node->source(), context + "'command' must be a list of texts, like [\"xterm\"]");
        for (const toml::node& arg : *argv) {
            const auto* s = arg.as_string();
            if (!s) return c.fail(arg.source(), context + "'command' must hold only texts");
            e->command.push_back(s->get());
        }
        if (e->command[0].empty()) return c.fail(node->source(), context + "'command' names no program");
        return true;
    }
    case AppKind::Screen:
        return c.text(t, "display", true, context, &e->display);
    case AppKind::Window:
        return c.text(t, "display", true, context, &e->display) && c.text(t, "title", true, context, &e->title);
    case AppKind::Web:
        return c.text(t, "home", true, context, &e->home) && c.text(t, "search", false, context, &e->search);
    case AppKind::Demo:
        return true;
    case AppKind::Moonlight:
        return read_moonlight(c, t, context, e);
    }
    return true;
}

}  // namespace

bool starts_programs(AppKind kind) {
    return kind != AppKind::Demo && kind != AppKind::Screen && kind != AppKind::Window;
}

uint8_t menu_kind(AppKind kind) {
    switch (kind) {
    case AppKind::Program: return 0;
    case AppKind::Screen: return 1;
    case AppKind::Window: return 2;
    case AppKind::Web: return 3;
    case AppKind::Demo: return 0;
    case AppKind::Moonlight: return 4;
    }
    return 0;
}

bool parse_listen(const std::string& text, std::string* address, int* port) {
    size_t colon = text.rfind(':');
    if (colon == std::string::npos || colon == 0 || colon + 1 >= text.size() || colon + 6 < text.size())
        return false;
    int value = 0;
    for (size_t i = colon + 1; i < text.size(); i++) {
        if (text[i] < '0' || text[i] > '9') return false;
        value = value * 10 + (text[i] - '0');
    }
    if (value > 65535) return false;
    *address = text.substr(0, colon);
    *port = value;
    return true;
}

size_t key_bytes_sent(const std::string& key) {
    size_t written = 0;
    while (written < key.size() && written < 29) {
        size_t n = 1;
        while (written + n < key.size() && (uint8_t(key[written + n]) & 0xC0) == 0x80) n++;
        written += n;
    }
    return written;
}

bool load_config(const std::string& path, FileSettings* out, std::string* error) {
    toml::table root;
    try {
        root = toml::parse_file(path);
    } catch (const toml::parse_error& e) {
        std::ostringstream s;
        s << path << ":" << e.source().begin.line << ": " << e.description();
        *error = one_line(s.str());
        return false;
    }
    Checker c(path);
    FileSettings f;
    bool ok = c.known_keys(root, TOP_KEYS, "");
    if (ok && root.get("listen")) {
        std::string address;
        int port = 0;
        ok = c.text(root, "listen", true, "", &f.listen) &&
             (parse_listen(f.listen, &address, &port) ||
              c.fail(root.get("listen")->source(), "'listen' must be \"ADDRESS:PORT\", like \"0.0.0.0:3300\""));
        f.has_listen = true;
    }
    if (ok && root.get("key")) {
        ok = c.text(root, "key", true, "", &f.key) &&
             (key_bytes_sent(f.key) == f.key.size() ||
              c.fail(root.get("key")->source(), "'key' is longer than the 29 bytes a client sends"));
        f.has_key = true;
    }
    if (ok && root.get("keep_sessions")) {
        const toml::node* node = root.get("keep_sessions");
        const auto* minutes = node->as_integer();
        if (!minutes || minutes->get() < 0 || minutes->get() > 10080)
            ok = c.fail(node->source(), "'keep_sessions' must be a whole number of minutes, 0 to 10080");
        else
            f.keep_sessions = int(minutes->get());
    }
    if (ok && root.get("quality")) {
        const toml::node* node = root.get("quality");
        const auto* quality = node->as_integer();
        const auto* word = node->as_string();
        if (word && word->get() == "auto")
            f.quality = QUALITY_AUTO_SETTING;
        else if (!quality || quality->get() < 1 || quality->get() > 100)
            ok = c.fail(node->source(), "'quality' must be a whole number, 1 to 100 (100: exact pictures), or \"auto\"");
        else
            f.quality = int(quality->get());
    }
    if (ok && root.get("user")) ok = c.text(root, "user", true, "", &f.user);
    if (ok) {
        const toml::node* node = root.get("app");
        const toml::array* apps = node ? node->as_array() : nullptr;
        if (!node)
            ok = c.fail(root.source(), "no [[app]] entry: the menu would be empty");
        else if (!apps || !apps->is_array_of_tables())
            ok = c.fail(node->source(), "'app' must be written as [[app]] tables");
        else if (apps->size() > 64)
            ok = c.fail((*apps)[64].source(), "more than 64 [[app]] entries (the client shows 64)");
        for (size_t i = 0; ok && apps && i < apps->size(); i++) {
            AppEntry e;
            ok = read_app(c, *(*apps)[i].as_table(), uint16_t(i + 1), &e);
            f.apps.push_back(e);
        }
    }
    if (!ok) {
        *error = c.error();
        return false;
    }
    *out = f;
    return true;
}

std::string default_config_path() {
    std::string base;
    if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg && xdg[0])
        base = xdg;
    else if (const char* home = std::getenv("HOME"); home && home[0])
        base = std::string(home) + "/.config";
    else
        return std::string();
    std::string path = base + "/quorvane/server.toml";
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 ? path : std::string();
}

std::vector<AppEntry> builtin_menu(const std::string& display) {
    std::vector<AppEntry> apps;
    AppEntry terminal;
    terminal.name = "Terminal";
    terminal.kind = AppKind::Program;
    terminal.command = {"xterm", "-fa", "Monospace", "-fs", "12"};  // a font with å, ä, ö and €
    apps.push_back(terminal);
    if (!display.empty()) {
        AppEntry screen;
        screen.name = "Hela skärmen";
        screen.kind = AppKind::Screen;
        screen.display = display;
        apps.push_back(screen);
    }
    AppEntry demo;
    demo.name = "Demo";
    demo.kind = AppKind::Demo;
    apps.push_back(demo);
    for (size_t i = 0; i < apps.size(); i++) apps[i].id = uint16_t(i + 1);
    return apps;
}

}  // namespace qvs
