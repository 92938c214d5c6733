// quorvane-server: the command line.
#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "server/config.h"
#include "server/net/frame_pacer.h"
#include "server/net/server.h"
#include "server/sessions/menu.h"
#include "server/sessions/user_account.h"

namespace {

std::atomic<bool> stop_requested{false};

void on_signal(int) { stop_requested = true; }

const char* const HELP =
    "Usage: quorvane-server [options]\n"
    "\n"
    "Serves Quorvane clients: each picks an entry of the menu and sees and\n"
    "drives it. A program entry runs in an X server of the client's own, kept\n"
    "for it while it is in the menu or its link is lost; a screen or window\n"
    "entry shows an existing X display; the demo is an animation.\n"
    "\n"
    "The menu comes from the configuration file: --config FILE, else\n"
    "$XDG_CONFIG_HOME/quorvane/server.toml (~/.config/quorvane/server.toml)\n"
    "when it exists, else a built-in one: Terminal (xterm), Hela skärmen\n"
    "($DISPLAY, when set) and Demo.\n"
    "\n"
    "Options:\n"
    "  --config FILE          read the menu, listen, key and keep_sessions\n"
    "                         from FILE (TOML). An error in it stops the\n"
    "                         server with exit code 2.\n"
    "  --listen ADDRESS:PORT  where to listen (default 0.0.0.0:3300, every\n"
    "                         interface). Port 0 picks a free port and prints\n"
    "                         it, alone on a line, on standard output.\n"
    "  --port PORT            the same with the configured address.\n"
    "  --print-port           print the port on standard output in any case.\n"
    "  --key KEY              admit only clients whose key (nyckel) is KEY\n"
    "                         (at most 29 bytes, best plain ASCII). Needed\n"
    "                         when the server listens beyond this machine\n"
    "                         (not 127.x.x.x) and its menu has more than the\n"
    "                         demo.\n"
    "  --no-key               admit every client, also from the network.\n"
    "  --user NAME            started as root: bind the port, then run as\n"
    "                         NAME, with everything started for clients (X\n"
    "                         servers, programs, browsers, sound servers).\n"
    "                         Also user = \"NAME\" in the file.\n"
    "  --allow-root           started as root without a user: run programs,\n"
    "                         browsers and Moonlight games as root anyway.\n"
    "  --fps N                frames per second (1..60) instead of the rate\n"
    "                         the client asks for.\n"
    "  --size WxH             picture size instead of the size the client asks\n"
    "                         for (16x16 .. 1600x1200).\n"
    "  --quality N            a fixed picture quality 1..100. 100 sends\n"
    "                         every picture exactly; below it, blocks of many\n"
    "                         colours (photographs, video) are approximated,\n"
    "                         the more the lower N, so that frames cost an old\n"
    "                         client less to decode. Text, window edges and\n"
    "                         icons always stay exact. Whatever the quality, a\n"
    "                         client that decodes slower than its frame rate\n"
    "                         gets fewer frames a second.\n"
    "  --quality auto         (the default) the quality follows each client's\n"
    "                         link and speed, measured from its acknowledge-\n"
    "                         ments: lower until its frames keep the link and\n"
    "                         the client busy at most half of the time (so\n"
    "                         that input is answered without a queue of\n"
    "                         pictures in front), higher while there is room;\n"
    "                         fewer frames where even the lowest is too much.\n"
    "  --zlib-level N         compression level 0..9 (default 6).\n"
    "  --window N             video frames sent ahead of the client's\n"
    "                         acknowledgements, at most (1..16, default 2).\n"
    "  --no-audio             send no sound even when the client wants it.\n"
    "  --noise                demo entries send random pixels (a worst case\n"
    "                         for the encoder and the link).\n"
    "  --idle-timeout N       drop a client that sends nothing for N seconds\n"
    "                         (default 15; the client pings every second).\n"
    "  --once                 serve one connection, then exit.\n"
    "  --frames N             end each connection after N video frames.\n"
    "  --verbose              log every input message.\n"
    "  --help                 show this text.\n"
    "\n"
    "Every connection and notable event is logged on standard error.\n";

bool parse_int(const char* text, int lo, int hi, int* out) {
    char* end = nullptr;
    long v = std::strtol(text, &end, 10);
    if (!text[0] || *end || v < lo || v > hi) return false;
    *out = int(v);
    return true;
}

int usage_error(const std::string& message) {
    std::fprintf(stderr, "quorvane-server: %s (see --help)\n", message.c_str());
    return 2;
}

// Loopback addresses reach only this machine.
bool is_loopback(const std::string& address) { return address.compare(0, 4, "127.") == 0; }

// What the command line says; the configuration file fills in the rest.
struct Options {
    qvs::ServerConfig config;
    std::string listen, key, config_path, user;
    bool have_listen = false, have_key = false, have_quality = false, no_key = false, print_port = false, once = false;
    bool allow_root = false;
    int port_only = -1;
};

// Reads the command line into `o`: -1 to go on, else the exit code.
int parse_arguments(int argc, char** argv, Options* o) {
    qvs::ServerConfig& config = o->config;
    const struct {
        const char* name;
        bool* flag;
        bool value;
    } flags[] = {{"--print-port", &o->print_port, true}, {"--no-key", &o->no_key, true},
                 {"--allow-root", &o->allow_root, true}, {"--no-audio", &config.audio, false},
                 {"--noise", &config.noise, true},        {"--once", &o->once, true},
                 {"--verbose", &config.verbose, true}};
    const struct {
        const char* name;
        int lo, hi;
        int* out;
        const char* need;
    } numbers[] = {{"--port", 0, 65535, &o->port_only, "--port needs 0..65535"},
                   {"--fps", 1, qvs::MAX_FPS, &config.fps, "--fps needs 1..60"},
                   {"--zlib-level", 0, 9, &config.encoder.zlib_level, "--zlib-level needs 0..9"},
                   {"--window", 1, 16, &config.window, "--window needs 1..16"}};
    for (int i = 1; i < argc; i++) {
        std::string a = argv[i];
        auto value = [&](const char** out) {
            if (i + 1 >= argc) return false;
            *out = argv[++i];
            return true;
        };
        const char* v = nullptr;
        int n = 0;
        bool known = false;
        for (const auto& f : flags)
            if (a == f.name) *f.flag = f.value, known = true;
        for (const auto& number : numbers) {
            if (a != number.name) continue;
            if (!value(&v) || !parse_int(v, number.lo, number.hi, number.out)) return usage_error(number.need);
            known = true;
        }
        if (known) continue;
        if (a == "--help" || a == "-h") {
            std::fputs(HELP, stdout);
            return 0;
        } else if (a == "--config") {
            if (!value(&v)) return usage_error("--config needs a file");
            o->config_path = v;
        } else if (a == "--listen") {
            std::string address;
            if (!value(&v) || !qvs::parse_listen(v, &address, &n))
                return usage_error("--listen needs ADDRESS:PORT");
            o->listen = v;
            o->have_listen = true;
        } else if (a == "--key") {
            if (!value(&v) || !v[0]) return usage_error("--key needs a key");
            if (qvs::key_bytes_sent(v) < std::strlen(v))
                return usage_error("--key: a client sends only the first 29 bytes of its key");
            o->key = v;
            o->have_key = true;
        } else if (a == "--user") {
            if (!value(&v) || !v[0]) return usage_error("--user needs a user name");
            o->user = v;
        } else if (a == "--size") {
            if (!value(&v)) return usage_error("--size needs WxH");
            std::string s = v;
            size_t x = s.find('x');
            if (x == std::string::npos ||
                !parse_int(s.substr(0, x).c_str(), qvs::MIN_WIDTH, qvs::MAX_WIDTH, &config.width) ||
                !parse_int(s.c_str() + x + 1, qvs::MIN_HEIGHT, qvs::MAX_HEIGHT, &config.height))
                return usage_error("--size needs WxH within 16x16 .. 1600x1200");
        } else if (a == "--quality") {
            if (!value(&v)) return usage_error("--quality needs 1..100 or auto");
            config.auto_quality = std::strcmp(v, "auto") == 0;
            if (!config.auto_quality && !parse_int(v, 1, qvs::LOSSLESS_QUALITY, &config.encoder.quality))
                return usage_error("--quality needs 1..100 or auto");
            o->have_quality = true;
        } else if (a == "--idle-timeout") {
            if (!value(&v) || !parse_int(v, 1, 86400, &n)) return usage_error("--idle-timeout needs 1..86400");
            config.idle_timeout_ms = n * 1000;
        } else if (a == "--frames") {
            if (!value(&v) || !parse_int(v, 1, 2000000000, &n)) return usage_error("--frames needs a count");
            config.frame_limit = uint32_t(n);
        } else {
            return usage_error("unknown option " + a);
        }
    }
    if (o->no_key && o->have_key) return usage_error("--key and --no-key together");
    return -1;
}

// The file, then the command line over it: -1 to go on, else the exit code.
int apply_file(Options* o, std::string* address, int* port) {
    qvs::ServerConfig& config = o->config;
    qvs::FileSettings file;
    if (o->config_path.empty()) o->config_path = qvs::default_config_path();
    std::string error;
    if (!o->config_path.empty() && !qvs::load_config(o->config_path, &file, &error)) {
        std::fprintf(stderr, "quorvane-server: %s\n", error.c_str());
        return 2;
    }
    const char* display = std::getenv("DISPLAY");
    config.apps = o->config_path.empty() ? qvs::builtin_menu(display ? display : "") : file.apps;
    config.keep_sessions_ms = int64_t(file.keep_sessions) * 60 * 1000;
    if (!o->have_listen) o->listen = file.has_listen ? file.listen : "0.0.0.0:3300";
    if (!o->have_key && file.has_key && !o->no_key) o->key = file.key, o->have_key = true;
    if (o->user.empty()) o->user = file.user;
    if (!o->have_quality && file.quality && file.quality != qvs::QUALITY_AUTO_SETTING) {
        config.encoder.quality = file.quality;
        config.auto_quality = false;
    }
    qvs::parse_listen(o->listen, address, port);
    if (o->port_only >= 0) *port = o->port_only;
    config.require_key = o->have_key;
    config.key = o->key;
    return -1;
}

// Refuses a setting that would hand the machine to others: -1 to go on,
// else the exit code.
int refuse_unsafe(const Options& o, const std::string& address) {
    const char* file = o.config_path.empty() ? "~/.config/quorvane/server.toml" : o.config_path.c_str();
    // Programs, screens and windows of this machine are not for anyone on
    // the network who happens to find the port.
    bool only_demo = true;
    for (const qvs::AppEntry& e : o.config.apps) only_demo = only_demo && e.kind == qvs::AppKind::Demo;
    if (!only_demo && !o.have_key && !o.no_key && !is_loopback(address)) {
        std::fprintf(stderr,
                     "quorvane-server: listening on %s would let anyone who reaches this machine use its programs "
                     "and screens. Set a key: --key KEY, or key = \"...\" in %s; the client's settings (F10) "
                     "take the same key. Or listen on 127.0.0.1 only, or start with --no-key to allow it without "
                     "one.\n",
                     address.c_str(), file);
        return 2;
    }
    // What a client starts runs with the server's rights: as root, any
    // program or web page would own the machine.
    bool starts_programs = false;
    for (const qvs::AppEntry& e : o.config.apps) starts_programs = starts_programs || qvs::starts_programs(e.kind);
    if (::geteuid() == 0 && o.user.empty() && starts_programs && !o.allow_root) {
        std::fprintf(stderr,
                     "quorvane-server: started as root, the programs and web pages of this menu would run as root. "
                     "Name a user to run them as: user = \"NAME\" in %s, or --user NAME. Or start with "
                     "--allow-root to run them as root anyway.\n",
                     file);
        return 2;
    }
    return -1;
}

void catch_signals() {
    signal(SIGPIPE, SIG_IGN);
    struct sigaction sa;
    std::memset(&sa, 0, sizeof sa);
    sa.sa_handler = on_signal;
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGHUP, &sa, nullptr);
}

}  // namespace

int main(int argc, char** argv) {
    Options o;
    std::string address;
    int port = 0;
    int code = parse_arguments(argc, argv, &o);
    if (code < 0) code = apply_file(&o, &address, &port);
    if (code < 0) code = refuse_unsafe(o, address);
    if (code >= 0) return code;
    catch_signals();

    const qvs::ServerConfig& config = o.config;
    int bound = 0;
    std::string error;
    int fd = qvs::open_listener(address, port, &bound, &error);
    if (fd < 0) {
        std::fprintf(stderr, "quorvane-server: %s\n", error.c_str());
        return 1;
    }
    if (::geteuid() == 0 && !o.user.empty()) {
        if (!qvs::become_user(o.user, &error)) {
            std::fprintf(stderr, "quorvane-server: %s\n", error.c_str());
            return 2;
        }
        qvs::log_line("running as %s (uid %d)", o.user.c_str(), int(::getuid()));
    } else if (!o.user.empty()) {
        qvs::log_line("not started as root: running as uid %d, not as %s", int(::getuid()), o.user.c_str());
    }
    const std::string quality = config.auto_quality ? "auto" : std::to_string(config.encoder.quality);
    qvs::log_line("listening on %s:%d, %zu menu entries from %s%s, quality %s", address.c_str(), bound,
                  config.apps.size(), o.config_path.empty() ? "the built-in menu" : o.config_path.c_str(),
                  config.require_key ? ", key required" : "", quality.c_str());
    // The first clients' menus then list the apps of game stream hosts.
    qvs::current_menu(config.apps);
    if (o.print_port || port == 0) {
        std::printf("%d\n", bound);
        std::fflush(stdout);
    }
    qvs::serve(fd, config, &stop_requested, o.once ? 1 : 0);
    close(fd);
    qvs::log_line("stopped");
    return 0;
}
