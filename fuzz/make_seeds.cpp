// Writes the seed corpora of the fuzz targets, made by our own server and
// encoder, into <folder>/<target>/:
//
//   messages       whole connections captured from the reference server's
//                  sessions (menu, every kind of entry, frames, sound, PIN,
//                  back to the menu), and hand-made streams of every server
//                  message, size changes and broken frames among them
//   decode_blocks  block streams of the encoder at many picture sizes
//   wire_text      texts in UTF-8 and in the client's 8-bit form
//   settings_file  settings files: as saved, edited by hand, and broken
//
// Usage: fuzz_make_seeds <folder>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <zlib.h>

#include <atomic>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "server/canvas.h"
#include "server/demo.h"
#include "server/encoder.h"
#include "server/protocol.h"
#include "server/server.h"

using qvs::Bytes;

namespace {

std::filesystem::path out_root;
int written = 0;

void put(const std::string& target, const std::string& name, const void* data, size_t size) {
    std::filesystem::path folder = out_root / target;
    std::filesystem::create_directories(folder);
    FILE* f = std::fopen((folder / name).string().c_str(), "wb");
    if (f == nullptr || (size > 0 && std::fwrite(data, 1, size, f) != size) || std::fclose(f) != 0) {
        std::fprintf(stderr, "make_seeds: cannot write %s/%s\n", target.c_str(), name.c_str());
        std::exit(1);
    }
    written++;
}
void put(const std::string& target, const std::string& name, const Bytes& bytes) {
    put(target, name, bytes.data(), bytes.size());
}
void put(const std::string& target, const std::string& name, const std::string& text) {
    put(target, name, text.data(), text.size());
}

void append(Bytes& to, const Bytes& more) { to.insert(to.end(), more.begin(), more.end()); }

Bytes message(uint8_t type, const Bytes& payload) { return qvs::frame_message(type, payload); }

// ------------------------------------------------------------ sessions --

// The client's greeting: "QV98", 1, 0, size, frame rate, sound, name, key.
Bytes hello(uint16_t width, uint16_t height, uint8_t fps, uint32_t rate, uint8_t channels) {
    Bytes p(HELLO_SIZE, 0);
    std::memcpy(p.data(), "QV98", 4);
    p[4] = 1;
    p[6] = uint8_t(width);
    p[7] = uint8_t(width >> 8);
    p[8] = uint8_t(height);
    p[9] = uint8_t(height >> 8);
    p[10] = fps;
    for (int i = 0; i < 4; i++) p[11 + i] = uint8_t(rate >> (8 * i));
    p[15] = channels;
    std::memcpy(p.data() + 16, "fuzz", 4);
    return p;
}

void send_all(int fd, const Bytes& bytes) {
    size_t sent = 0;
    while (sent < bytes.size()) {
        ssize_t n = ::send(fd, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n <= 0) return;
        sent += size_t(n);
    }
}

// Plays the client against a real session of the reference server and
// returns every byte the server sent: the menu, the launch of `entry`, the
// stream with its frames (each acknowledged) and sound, a Ping's Pong, and
// finally (when `menu_after` frames have come) the way back to the menu.
Bytes capture_session(uint16_t entry, int width, int height, int frames, int menu_after,
                      bool lossy, uint8_t channels) {
    int fds[2];
    if (socketpair(AF_UNIX, SOCK_STREAM, 0, fds) != 0) return Bytes();
    qvs::ServerConfig config;
    config.width = width;
    config.height = height;
    config.fps = 60;
    config.frame_limit = uint32_t(frames);
    config.refuse_linger_ms = 10;
    for (const qvs::DemoEntry& e : qvs::demo_entries()) {
        qvs::AppEntry app;
        app.id = e.id;
        app.name = e.name;
        config.apps.push_back(app);
    }
    config.encoder.quality = lossy ? qvs::DEFAULT_LOSSY_QUALITY : qvs::LOSSLESS_QUALITY;
    std::atomic<bool> stop(false);
    std::thread server([&] { qvs::serve_connection(fds[0], config, 1, "seed", "seed", &stop); });

    int client = fds[1];
    send_all(client, message(MSG_HELLO, hello(uint16_t(width), uint16_t(height), 60, 22050, channels)));
    Bytes seen, pending;
    int frames_seen = 0;
    bool launched = false, back = false;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
    while (std::chrono::steady_clock::now() < deadline) {
        pollfd p = {client, POLLIN, 0};
        if (poll(&p, 1, 100) <= 0) continue;
        uint8_t chunk[65536];
        ssize_t n = ::recv(client, chunk, sizeof chunk, 0);
        if (n <= 0) break;  // the server ended the connection (frame limit)
        seen.insert(seen.end(), chunk, chunk + n);
        pending.insert(pending.end(), chunk, chunk + n);
        // Answer whole messages as the client would.
        while (pending.size() >= WIRE_HEADER_SIZE) {
            uint32_t length = qvs::read_u32(pending.data());
            if (pending.size() < WIRE_HEADER_SIZE + length) break;
            uint8_t type = pending[4];
            const uint8_t* payload = pending.data() + WIRE_HEADER_SIZE;
            if (type == MSG_APP_LIST && !launched) {
                launched = true;
                send_all(client, message(MSG_LAUNCH_APP, Bytes{uint8_t(entry), uint8_t(entry >> 8)}));
                send_all(client, message(MSG_PING, Bytes{1, 2, 3, 4}));
            }
            if (type == MSG_VIDEO_FRAME && length >= 4) {
                send_all(client, message(MSG_FRAME_ACK, Bytes(payload, payload + 4)));
                frames_seen++;
                if (frames_seen == 1) {
                    // Input the demo shows in its picture.
                    send_all(client, message(MSG_CHAR, Bytes{'h', 0}));
                    send_all(client, message(MSG_MOUSE_POS, Bytes{10, 0, 10, 0}));
                    Bytes web = {0};
                    const char* address = "http://example.test/s\xC3\xB6k";
                    web.insert(web.end(), address, address + std::strlen(address));
                    send_all(client, message(MSG_WEB_ADDRESS, web));
                }
                if (menu_after > 0 && frames_seen == menu_after && !back) {
                    back = true;
                    send_all(client, message(MSG_MENU_REQUEST, Bytes()));
                    send_all(client, message(MSG_LAUNCH_APP, Bytes{3, 0}));
                }
            }
            pending.erase(pending.begin(), pending.begin() + WIRE_HEADER_SIZE + length);
        }
    }
    stop = true;
    ::shutdown(client, SHUT_RDWR);
    server.join();
    ::close(client);
    return seen;
}

// ------------------------------------------------------------- pictures --

qvs::Canvas demo_picture(uint16_t entry, int width, int height, double seconds) {
    qvs::Canvas canvas;
    canvas.resize(width, height);
    const qvs::DemoEntry* e = qvs::find_demo_entry(entry);
    qvs::DemoScene scene(*e, width, height);
    qvs::InputView input;
    input.typed = U"hej";
    scene.render(seconds, "12:34:56", input, canvas);
    return canvas;
}

Bytes encode(qvs::FrameEncoder& encoder, uint32_t id, const qvs::Canvas& canvas) {
    Bytes body;
    encoder.encode(id, canvas.pixels.data(), canvas.width, canvas.height, body);
    return body;
}

// The inflated block stream of a VideoFrame body.
Bytes block_stream(const Bytes& body) {
    uint32_t raw = qvs::read_u32(body.data() + 9);
    Bytes stream(raw);
    uLongf size = raw;
    if (uncompress(stream.data(), &size, body.data() + 17, uLong(body.size() - 17)) != Z_OK) return Bytes();
    stream.resize(size);
    return stream;
}

Bytes video_body(uint32_t id, uint16_t width, uint16_t height, uint32_t raw_size, const Bytes& zlib) {
    Bytes b;
    qvs::append_u32(b, id);
    qvs::append_u16(b, width);
    qvs::append_u16(b, height);
    b.push_back(0);
    qvs::append_u32(b, raw_size);
    qvs::append_u32(b, uint32_t(zlib.size()));
    append(b, zlib);
    return b;
}

Bytes deflate(const Bytes& raw) {
    uLongf size = compressBound(uLong(raw.size()));
    Bytes out(size);
    compress2(out.data(), &size, raw.data(), uLong(raw.size()), 6);
    out.resize(size);
    return out;
}

// -------------------------------------------------------------- targets --

void message_seeds() {
    // Whole connections with the reference server, one per kind of entry.
    const int entries[] = {1, 2, 3, 4, 5, 6};
    for (int entry : entries) {
        Bytes s = capture_session(uint16_t(entry), 64 + 8 * entry + entry % 3, 48 + 4 * entry, 4,
                                  entry == 3 ? 2 : 0, entry % 2 == 0, entry == 4 ? 1 : 2);
        if (!s.empty()) put("messages", "session_entry" + std::to_string(entry), s);
    }

    // Every message type on its own, as the server builds it.
    qvs::FrameEncoder encoder;
    Bytes frame = encode(encoder, 7, demo_picture(3, 40, 24, 1.0));
    int16_t samples[64];
    for (int i = 0; i < 64; i++) samples[i] = int16_t(i * 500 - 16000);
    const uint8_t pong[4] = {0x10, 0x20, 0x30, 0x40};
    put("messages", "one_stream_setup", message(MSG_STREAM_SETUP, qvs::make_stream_setup(40, 24, 22050, 2, "Startar str\xC3\xB6m ...")));
    put("messages", "one_app_list", message(MSG_APP_LIST, qvs::make_app_list(qvs::demo_menu())));
    put("messages", "one_video_frame", message(MSG_VIDEO_FRAME, frame));
    put("messages", "one_audio", message(MSG_AUDIO_DATA, qvs::make_audio(samples, 64)));
    put("messages", "one_stream_state", message(MSG_STREAM_STATE, qvs::make_stream_state(1, 0, 4)));
    put("messages", "one_server_text", message(MSG_SERVER_TEXT, qvs::make_server_text(3, "Titel \xE2\x82\xAC")));
    put("messages", "one_pong", message(MSG_PONG, qvs::make_pong(pong)));
    put("messages", "one_unknown_type", message(9, Bytes{1, 2, 3}));
    put("messages", "one_empty_payload", message(MSG_STREAM_STATE, Bytes()));

    // A stream that changes size between frames, with sound and texts.
    {
        Bytes s;
        qvs::FrameEncoder e;
        const int sizes[][2] = {{40, 24}, {41, 23}, {8, 8}, {1, 1}, {17, 9}, {40, 24}};
        uint32_t id = 1;
        for (auto& size : sizes) {
            append(s, message(MSG_STREAM_SETUP, qvs::make_stream_setup(uint16_t(size[0]), uint16_t(size[1]),
                                                                       size[0] % 2 ? 11025 : 22050,
                                                                       uint8_t(size[0] % 2 ? 1 : 2), "ny storlek")));
            append(s, message(MSG_STREAM_STATE, qvs::make_stream_state(1, 1, 0)));
            for (int k = 0; k < 2; k++) {
                append(s, message(MSG_VIDEO_FRAME, encode(e, id++, demo_picture(5, size[0], size[1], k * 0.5))));
                append(s, message(MSG_AUDIO_DATA, qvs::make_audio(samples, 64)));
            }
            append(s, message(MSG_SERVER_TEXT, qvs::make_server_text(uint8_t(id % 5), "text " + std::to_string(id))));
        }
        append(s, message(MSG_STREAM_STATE, qvs::make_stream_state(0, 1, 0)));
        put("messages", "size_changes", s);
    }

    // Frames whose size differs from the last StreamSetup, without one.
    {
        Bytes s;
        qvs::FrameEncoder e;
        append(s, message(MSG_VIDEO_FRAME, encode(e, 1, demo_picture(1, 30, 20, 0))));
        append(s, message(MSG_VIDEO_FRAME, encode(e, 2, demo_picture(1, 50, 10, 0))));
        put("messages", "frames_resize_themselves", s);
    }

    // Broken frames: raw_size too small, too large, all ones; bad zlib; a
    // stream cut short; sides of 0 and 65535; a body of exactly 17 bytes.
    {
        Bytes stream = block_stream(frame);
        Bytes zlib(frame.begin() + 17, frame.end());
        Bytes s;
        append(s, message(MSG_VIDEO_FRAME, video_body(1, 40, 24, uint32_t(stream.size() - 1), zlib)));
        append(s, message(MSG_VIDEO_FRAME, video_body(2, 40, 24, uint32_t(stream.size() + 4096), zlib)));
        append(s, message(MSG_VIDEO_FRAME, video_body(3, 40, 24, 0xFFFFFFFFu, zlib)));
        Bytes bad = zlib;
        bad[bad.size() / 2] ^= 0x55;
        append(s, message(MSG_VIDEO_FRAME, video_body(4, 40, 24, uint32_t(stream.size()), bad)));
        Bytes cut(stream.begin(), stream.begin() + long(stream.size() / 2));
        append(s, message(MSG_VIDEO_FRAME, video_body(5, 40, 24, uint32_t(cut.size()), deflate(cut))));
        append(s, message(MSG_VIDEO_FRAME, video_body(6, 65535, 0, 64, deflate(Bytes(64, 1)))));
        append(s, message(MSG_VIDEO_FRAME, video_body(7, 0, 65535, 64, deflate(Bytes(64, 1)))));
        append(s, message(MSG_VIDEO_FRAME, video_body(8, 65535, 65535, 1 << 20, deflate(Bytes(4096, 0)))));
        append(s, message(MSG_VIDEO_FRAME, video_body(9, 40, 24, 0, Bytes())));
        append(s, message(MSG_VIDEO_FRAME, Bytes(16, 0)));
        Bytes invalid_type = stream;
        invalid_type[3] = 6;
        append(s, message(MSG_VIDEO_FRAME, video_body(10, 40, 24, uint32_t(invalid_type.size()), deflate(invalid_type))));
        put("messages", "broken_frames", s);
    }

    // Lists and texts: more entries than announced, fewer, over 64, names
    // longer than the field; every text slot far too long; bad UTF-8.
    {
        Bytes s;
        std::vector<qvs::MenuItem> many;
        for (int i = 0; i < 70; i++) many.push_back({uint16_t(i), uint8_t(i % 6), std::string(i, char('a' + i % 26))});
        append(s, message(MSG_APP_LIST, qvs::make_app_list(many)));
        Bytes lying = qvs::make_app_list(qvs::demo_menu());
        lying[0] = 0xFF;
        lying[1] = 0xFF;  // 65535 entries announced
        append(s, message(MSG_APP_LIST, lying));
        Bytes long_name = {1, 0, 7, 0, 2, 0, 255};
        long_name.insert(long_name.end(), 255, 'x');
        append(s, message(MSG_APP_LIST, long_name));
        append(s, message(MSG_APP_LIST, Bytes{1}));
        std::string long_text(600, 'W');
        long_text += "\xC3\xA5\xE2\x82\xAC\xF0\x9F\x98\x80\xFF\xC3";
        for (int slot = 0; slot < 6; slot++) append(s, message(MSG_SERVER_TEXT, qvs::make_server_text(uint8_t(slot), long_text)));
        Bytes invalid = {3, 0xC3, 0xE2, 0x82, 0xF0, 0x9F, 0x98, 0x80, 0x80, 0x80, 0xED, 0xA0, 0x80, 0xC0, 0xAF};
        append(s, message(MSG_SERVER_TEXT, invalid));
        append(s, message(MSG_SERVER_TEXT, Bytes{4}));
        Bytes setup = qvs::make_stream_setup(16, 16, -1, 0, std::string(32, '\xC3'));
        append(s, message(MSG_STREAM_SETUP, setup));
        append(s, message(MSG_STREAM_SETUP, Bytes(44, 1)));
        append(s, message(MSG_PONG, Bytes{1, 2, 3}));
        put("messages", "lists_and_texts", s);
    }

    // Sound: a flood of bodies, odd lengths, and formats changing under it.
    {
        Bytes s;
        append(s, message(MSG_STREAM_SETUP, qvs::make_stream_setup(16, 16, 44100, 2, "ljud")));
        Bytes big(8200, 0x11);  // a little more than one sound buffer each
        for (int i = 0; i < 12; i++) append(s, message(MSG_AUDIO_DATA, big));
        append(s, message(MSG_AUDIO_DATA, Bytes(3, 0x7F)));
        append(s, message(MSG_STREAM_SETUP, qvs::make_stream_setup(16, 16, 8000, 1, "mono")));
        append(s, message(MSG_AUDIO_DATA, Bytes(8193, 0x22)));
        append(s, message(MSG_STREAM_SETUP, qvs::make_stream_setup(16, 16, 0, 2, "tyst")));
        append(s, message(MSG_AUDIO_DATA, Bytes(100, 0x33)));
        append(s, message(MSG_STREAM_SETUP, qvs::make_stream_setup(16, 16, 22050, 255, "255 kanaler")));
        append(s, message(MSG_AUDIO_DATA, Bytes(1000, 0x44)));
        put("messages", "sound", s);
    }

    // Headers at and beyond the limit, and a connection cut mid-message.
    {
        Bytes over = {0x01, 0x00, 0x40, 0x00, MSG_AUDIO_DATA};  // 4,194,305 bytes announced
        put("messages", "header_over_limit", over);
        Bytes cut = message(MSG_SERVER_TEXT, qvs::make_server_text(0, "avbruten"));
        cut.resize(cut.size() - 3);
        put("messages", "cut_payload", cut);
        put("messages", "cut_header", Bytes{0x05, 0x00, 0x00});
    }
}

void decode_seeds() {
    // Input: u16 width, u16 height, spare pitch, block stream.
    auto seed = [](const std::string& name, int width, int height, int spare, const Bytes& stream) {
        Bytes b = {uint8_t(width), uint8_t(width >> 8), uint8_t(height), uint8_t(height >> 8), uint8_t(spare)};
        append(b, stream);
        put("decode_blocks", name, b);
    };
    const int sizes[][2] = {{8, 8}, {10, 10}, {16, 8}, {17, 9}, {33, 21}, {64, 48}, {1, 1}, {7, 63}, {100, 3}};
    int n = 0;
    for (auto& size : sizes) {
        for (int lossy = 0; lossy < 2; lossy++) {
            qvs::EncoderOptions options;
            options.quality = lossy ? qvs::DEFAULT_LOSSY_QUALITY : qvs::LOSSLESS_QUALITY;
            qvs::FrameEncoder encoder(options);
            uint16_t entry = uint16_t(1 + n % 6);
            Bytes first = block_stream(encode(encoder, 1, demo_picture(entry, size[0], size[1], 0.0)));
            Bytes second = block_stream(encode(encoder, 2, demo_picture(entry, size[0], size[1], 0.7)));
            seed("frame" + std::to_string(n) + "_full", size[0], size[1], n % 3, first);
            seed("frame" + std::to_string(n) + "_delta", size[0], size[1], (n + 1) % 3, second);
            n++;
        }
    }
    // One block of each type, alone in an 8 x 8 picture and cut to 3 x 5.
    const uint32_t payload[6] = {0, 2, 12, 24, 128, 32};
    for (int t = 0; t < 6; t++) {
        Bytes stream = {uint8_t(t)};
        for (uint32_t i = 0; i < payload[t]; i++) stream.push_back(uint8_t(i * 37 + t));
        seed("block_type" + std::to_string(t), 8, 8, 0, stream);
        seed("block_type" + std::to_string(t) + "_edge", 3, 5, 1, stream);
    }
    seed("invalid_type", 16, 16, 0, Bytes{1, 1, 6, 0, 0x1F, 0, 0xE0, 0x03});
    seed("too_short", 16, 16, 0, Bytes{1, 1, 1});
    seed("zero_size", 0, 0, 0, Bytes{1, 2, 3});
}

void text_seeds() {
    // Byte 0 picks capacity and limit; the rest is the text.
    auto seed = [](const std::string& name, uint8_t pick, const std::string& text) {
        std::string b(1, char(pick));
        b += text;
        put("wire_text", name, b);
    };
    seed("ascii", 32, "Quorvane");
    seed("swedish_utf8", 200, "str\xC3\xB6mma moderna program till din retrodator");
    seed("swedish_8bit", 14, "str\xF6mma \xE5\xE4\xF6 \x80 \xFF");
    seed("euro", 33, "\xE2\x82\xAC 5 \xE2\x82\xAC");
    seed("four_byte", 5, "a\xF0\x9F\x98\x80" "b");
    seed("invalid", 128, "\xC3\xE2\x82\xED\xA0\x80\xC0\xAF\x80\x80\xFE\xFF");
    seed("cut_sequences", 3, "ab\xE2\x82");
    seed("zero_inside", 64, std::string("ab\0cd", 5));
    seed("long", 255, std::string(700, 'x') + "\xC3\xA5");
    seed("empty", 0, "");
}

void settings_seeds() {
    const std::string saved =
        "[Quorvane]\r\nhost=192.168.1.20\r\nport=3300\r\nbredd=640\r\nhojd=480\r\nfps=30\r\n"
        "fullskarm=1\r\nljud=1\r\nljudfrekvens=22050\r\nstereo=1\r\nmuskanslighet=100\r\n"
        "joystick=1\r\nnamn=RETRO98\r\nnyckel=hemlig\r\n";
    put("settings_file", "as_saved", saved);
    put("settings_file", "by_hand",
        "; mina inst\xE4llningar\n[other]\nhost=wrong\n\n  [ QUORVANE ]  ; comment\n"
        "  HOST =  \"server.lan\"  \nBredd=1024\nhojd = 119\nfps=61\nstereo=0\nport=-5\n"
        "namn='Kalle'\n");
    put("settings_file", "bounds_edges",
        "[Quorvane]\nbredd=160\nhojd=768\nfps=5\nljudfrekvens=2147483647\nmuskanslighet=-2147483648\n");
    put("settings_file", "duplicates",
        "[Quorvane]\nhost=first\nhost=second\n[Quorvane]\nport=1\n[quorvane]\nbredd=800\n");
    put("settings_file", "no_section", "host=nowhere\nport=99\n");
    put("settings_file", "empty", "");
    put("settings_file", "long_values",
        "[Quorvane]\nhost=" + std::string(5000, 'h') + "\nnamn=" + std::string(300, 'n') +
            "\nnyckel=" + std::string(33, 'k') + "\nbredd=" + std::string(400, '9') + "\n" +
            std::string(10000, '#') + "\n");
    put("settings_file", "no_final_newline", "[Quorvane]\nhost=a\nport=4");
    put("settings_file", "key_without_value", "[Quorvane]\nhost\nport\n=5\n[\n]\n[]\n");
    // Also read as a program's file name: folders around the longest that
    // leaves room for QUORVANE.INI in 260 bytes.
    for (int length : {246, 247, 248, 300}) {
        put("settings_file", "program_folder_" + std::to_string(length),
            "C:\\" + std::string(size_t(length - 4), 'd') + "\\Q.EXE");
    }
    std::string binary = "[Quorvane]\nhost=";
    for (int i = 0; i < 256; i++) binary.push_back(char(i));
    binary.append("\nfps=\0" "20\n", 9);  // a zero byte inside a value
    put("settings_file", "binary", binary);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: fuzz_make_seeds <folder>\n");
        return 2;
    }
    out_root = argv[1];
    // The server's sessions log each step on stderr; none of it matters here.
    std::fflush(stderr);
    int saved_stderr = dup(2);
    FILE* quiet = std::freopen("/dev/null", "w", stderr);
    message_seeds();
    std::fflush(stderr);
    if (quiet != nullptr && saved_stderr >= 0) dup2(saved_stderr, 2);
    if (saved_stderr >= 0) close(saved_stderr);
    decode_seeds();
    text_seeds();
    settings_seeds();
    std::printf("make_seeds: %d seeds in %s\n", written, argv[1]);
    return 0;
}
