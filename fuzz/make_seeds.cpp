// Writes the fuzz targets' seed corpora into <folder>/<target>/, made with our
// own server's message builders and encoder.
#include <zlib.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "server/encode/encoder.h"
#include "server/protocol.h"

using qvs::Bytes;

namespace {

std::filesystem::path root;
int written = 0;

void put(const std::string& target, const std::string& name, const std::string& bytes) {
    std::filesystem::create_directories(root / target);
    FILE* f = std::fopen((root / target / name).string().c_str(), "wb");
    if (f == nullptr || std::fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size() || std::fclose(f) != 0)
        std::fprintf(stderr, "make_seeds: cannot write %s/%s\n", target.c_str(), name.c_str()), std::exit(1);
    written++;
}
void put(const std::string& target, const std::string& name, const Bytes& b) { put(target, name, std::string(b.begin(), b.end())); }
Bytes operator+(Bytes a, const Bytes& b) { return a.insert(a.end(), b.begin(), b.end()), a; }

// A picture that needs every kind of block, changing with `t`.
std::vector<uint16_t> picture(int w, int h, int t) {
    std::vector<uint16_t> p(size_t(w) * h);
    for (int y = 0; y < h; y++)
        for (int x = 0, zone; x < w; x++)
            zone = (x / 9 + y / 7 + t) % 5, p[size_t(y) * w + x] = uint16_t(
                zone == 0 ? 0x0C63 : zone == 1 ? ((x + y) % 2 ? 0x7FFF : 0x7C00) : zone == 2 ? 0x0421 * ((x + y) % 4)
                : zone == 3 ? (x * 32 + y + t) & 0x7FFF : (x * 7919 + y * 104729 + t) & 0xFFFF);
    return p;
}

// Two frames of one encoder per size: the full picture, then the changes.
std::vector<Bytes> frames(int w, int h, bool lossy, uint32_t first_id) {
    qvs::EncoderOptions options;
    options.quality = lossy ? qvs::DEFAULT_LOSSY_QUALITY : qvs::LOSSLESS_QUALITY;
    qvs::FrameEncoder encoder(options);
    std::vector<Bytes> bodies(2);
    for (int t = 0; t < 2; t++) encoder.encode(first_id + t, picture(w, h, t).data(), w, h, bodies[t]);
    return bodies;
}

Bytes block_stream(const Bytes& body) {
    uLongf size = qvs::read_u32(body.data() + 9);
    Bytes stream(size);
    return uncompress(stream.data(), &size, body.data() + 17, uLong(body.size() - 17)), stream;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) return std::fprintf(stderr, "usage: fuzz_make_seeds <folder>\n"), 2;
    root = argv[1];
    for (const char* target : {"messages", "decode_blocks", "wire_text", "settings_file", "server_config", "web_address", "server_input"}) std::filesystem::remove_all(root / target);
    auto msg = [](uint8_t type, const Bytes& payload) { return qvs::frame_message(type, payload); };
    const int16_t samples[] = {0, 1000, -1000, 32767, -32768, 5, 6, 7};
    Bytes menu = qvs::make_stream_setup(160, 120, 22050, 2, "Meny \xC3\xA5\xC3\xA4\xC3\xB6") +
                 qvs::make_app_list({{1, 1, "Hela sk\xC3\xA4rmen"}, {2, 3, "Webb"}, {3, 9, ""}}) +
                 qvs::make_stream_state(0, 0, 0) + qvs::make_server_text(4, "4711") +
                 qvs::make_server_text(3, "Titel \xE2\x82\xAC") + qvs::make_server_text(1, "http://a.se/");
    Bytes stream = qvs::make_stream_setup(64, 48, 11025, 1, "Startar") +
                   qvs::make_stream_state(1, 1, 3) + msg(MSG_PONG, Bytes{1, 2, 3, 4}) +
                   qvs::make_audio(samples, 8);
    int n = 0;
    const int sizes[][2] = {{64, 48}, {17, 9}, {1, 1}, {100, 3}, {8, 8}, {33, 21}, {7, 63}};
    for (const auto& s : sizes)
        for (bool lossy : {false, true}) {
            std::vector<Bytes> bodies = frames(s[0], s[1], lossy, uint32_t(n * 2));
            for (const Bytes& body : bodies) stream = stream + msg(MSG_VIDEO_FRAME, body);
            Bytes input = {uint8_t(s[0]), uint8_t(s[0] >> 8), uint8_t(s[1]), uint8_t(s[1] >> 8), uint8_t(n % 3)};
            Bytes full = block_stream(bodies[0]), cut(full.begin(), full.begin() + full.size() * 2 / 3);
            std::string name = "frame" + std::to_string(n++);
            put("decode_blocks", name + "_full", input + full), put("decode_blocks", name + "_cut", input + cut);
            put("decode_blocks", name + "_delta", input + block_stream(bodies[1]));
        }
    put("messages", "menu", menu);
    put("messages", "stream", menu + stream + qvs::make_stream_state(0, 0, 0));
    Bytes broken = frames(16, 8, false, 7)[0], cut = broken;
    cut.resize(cut.size() - 3);
    broken[9] ^= 1;  // raw_size one off
    put("messages", "broken_frames", msg(MSG_VIDEO_FRAME, broken) + msg(MSG_VIDEO_FRAME, cut) +
                                         msg(MSG_VIDEO_FRAME, Bytes(17, 0)) + msg(MSG_VIDEO_FRAME, Bytes(16, 1)));
    put("messages", "short_payloads", msg(MSG_STREAM_SETUP, Bytes(44, 1)) + msg(MSG_STREAM_STATE, Bytes(2, 1)) +
                                          msg(MSG_PONG, Bytes(3, 1)) + msg(MSG_APP_LIST, Bytes{9, 0, 1}) + msg(99, Bytes(5, 0)));
    put("messages", "over_limit", msg(MSG_PONG, Bytes(4, 0)) + Bytes{0x01, 0x00, 0x40, 0x00, MSG_VIDEO_FRAME});
    put("messages", "cut_inside", menu + Bytes{0x20, 0, 0, 0, MSG_SERVER_TEXT, 0, 'x'});
    put("decode_blocks", "invalid", Bytes{16, 0, 16, 0, 0, 1, 1, 6, 0, 0x1F, 0, 0xE0, 0x03});
    put("decode_blocks", "short", Bytes{16, 0, 16, 0, 0, 1, 1, 1});
    const char* const texts[][2] = {
        {"\x20", "Quorvane"}, {"\xC8", "str\xC3\xB6mma moderna program"}, {"\x0E", "str\xF6mma \xE5\xE4\xF6 \x80 \xFF"},
        {"\x21", "\xE2\x82\xAC 5 \xE2\x82\xAC"}, {"\x05", "a\xF0\x9F\x98\x80" "b"},
        {"\x80", "\xC3\xE2\x82\xED\xA0\x80\xC0\xAF\x80\x80\xFE\xFF"}, {"\x03", "ab\xE2\x82"}};
    for (const auto& t : texts) put("wire_text", "text" + std::to_string(written), std::string(t[0]) + t[1]);
    put("wire_text", "long", "\xFF" + std::string(700, 'x') + "\xC3\xA5");
    put("settings_file", "as_saved", "[Quorvane]\r\nhost=192.168.1.20\r\nport=3300\r\nbredd=640\r\nhojd=480\r\nfps=30\r\n"
                                     "fullskarm=1\r\nljud=1\r\nljudfrekvens=22050\r\nstereo=1\r\nmuskanslighet=100\r\n"
                                     "joystick=1\r\nnamn=RETRO98\r\nnyckel=hemlig\r\n");
    put("settings_file", "by_hand", "; mina\n[other]\nhost=fel\n\n  [ QUORVANE ]  ; x\n  HOST =  \"server.lan\"  \n"
                                    "Bredd=1024\nhojd = 119\nfps=61\nstereo=0\nport=-5\nnamn='Kalle'\n[Quorvane]\nport=1\n");
    put("settings_file", "long", "[Quorvane]\nhost=" + std::string(5000, 'h') + "\nnamn=" + std::string(300, 'n') +
                                     "\nbredd=" + std::string(400, '9') + "\nkey\n=5\n[\n]\n[]\nport=4");
    put("settings_file", "no_section", "host=nowhere\nport=99\n");
    put("settings_file", "program_path", "C:\\" + std::string(243, 'd') + "\\Q.EXE");
    // The server's configuration files and typed web addresses (a zero byte, then the search address).
    const std::string app = "[[app]]\nname = \"Terminal\"\nkind = \"program\"\ncommand = [\"xterm\", \"-e\", 'sh']\n";
    put("server_config", "every_key", "listen = \"0.0.0.0:3300\"\nkey = \"hemlig\" # x\nkeep_sessions = 10\nquality = \"auto\"\n"
        "user = \"nobody\"\n" + app + "[[app]]\nname = \"Sk\xC3\xA4rm\"\nkind = \"screen\"\ndisplay = \":0\"\n[[app]]\n"
        "name = 'F'\nkind = \"window\"\ndisplay = \":0\"\ntitle = \"Mousepad\"\n[[app]]\nname = \"Webb\"\nkind = \"web\"\n"
        "home = \"https://a.se/\"\nsearch = \"https://s.se/?q=%s\"\n[[app]]\nname = \"Demo\"\nkind = \"demo\"\n");
    put("server_config", "faults", "quality = 101\nkeep_sessions = -1\n[[app]]\nname = \"\"\nkind = \"spel\"\ncommand = []\n");
    put("server_config", "line_breaks_quoted", "\"a\\nb\" = 1\nx = n\n");
    put("server_config", "inline", "app = [{name = \"x\", kind = \"demo\"}, {name = \"y\", kind = \"program\", command = [1]}]\n");
    for (const char* typed : {"example.org/x?y#z", "  HTTP://A.se\t/ ", "javascript:alert(1)", "10.0.0.1:8080/a",
                              "[::1]:80", "nas", "r\xC3\xA4ksm\xC3\xB6rg\xC3\xA5s.se", "tv\xC3\xA5 ord", "data:,x", "a..b"})
        put("web_address", "typed" + std::to_string(written), std::string(typed) + '\0' + "https://s.se/?q=%s&%s");
    put("web_address", "no_search", "hur m\xC3\xA5nga");
    // A client's side of a connection: its Hello (right key or wrong), the menu, two streams.
    auto hello = [&](const char* key) {
        Bytes p = {'Q', 'V', '9', '8', 1, 0, 64, 1, 200, 0, 30, 0x22, 0x56, 0, 0, 2};
        p.resize(HELLO_SIZE, 0);
        for (int i = 0; key[i]; i++) p[48 + i] = uint8_t(key[i]);
        for (int i = 0; i < 5; i++) p[16 + i] = uint8_t("KALLE"[i]);
        return msg(MSG_HELLO, p);
    };
    Bytes session = hello("hemlig") + msg(MSG_PING, Bytes{1, 2, 3, 4}) + msg(MSG_LAUNCH_APP, Bytes{1, 0}) +
                    msg(MSG_KEY, Bytes{0x41, 0x1E, 0, 1}) + msg(MSG_CHAR, Bytes{0xE5, 0}) + msg(MSG_MOUSE_POS, Bytes{9, 0, 9, 0}) +
                    msg(MSG_MOUSE_BUTTON, Bytes{1, 1}) + msg(MSG_MOUSE_WHEEL, Bytes{0x88, 0xFF}) + msg(MSG_MOUSE_DELTA, Bytes{3, 0, 0xFD, 0xFF}) +
                    msg(MSG_GAMEPAD, Bytes(18, 0x40)) + msg(MSG_FRAME_ACK, Bytes{1, 0, 0, 0}) + msg(MSG_WEB_ADDRESS, Bytes{0, 'a', '.', 's', 'e'}) +
                    msg(MSG_MENU_REQUEST, Bytes{}) + msg(MSG_LAUNCH_APP, Bytes{2, 0}) + msg(MSG_LAUNCH_APP, Bytes{9, 0}) + hello("x");
    put("server_input", "session", session);
    put("server_input", "wrong_key", hello("fel") + msg(MSG_LAUNCH_APP, Bytes{1, 0}));
    put("server_input", "before_hello", msg(MSG_LAUNCH_APP, Bytes{1, 0}) + msg(MSG_PING, Bytes{1, 2}) + hello("hemlig"));
    put("server_input", "odd", msg(MSG_HELLO, Bytes{'Q', 'V', '9', '8'}) + Bytes{0xFF, 0xFF, 0, 0, MSG_KEY});
    std::printf("make_seeds: %d seeds in %s\n", written, argv[1]);
    return 0;
}
