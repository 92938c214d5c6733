// Starting PulseAudio privately: no configuration script (-n), only the
// two modules it needs, no autospawn, no idle exit, its runtime and state
// in a fresh folder. Run as root it warns and goes on.
#include "server/sessions/sound_server.h"

#include <errno.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <thread>

#include "server/log.h"

namespace qvs {

namespace {

// True when something accepts connections on the Unix socket at `path`.
bool accepts(const std::string& path) {
    sockaddr_un sa;
    std::memset(&sa, 0, sizeof sa);
    sa.sun_family = AF_UNIX;
    if (path.size() >= sizeof sa.sun_path) return false;
    std::memcpy(sa.sun_path, path.c_str(), path.size());
    int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return false;
    bool ok = ::connect(fd, reinterpret_cast<sockaddr*>(&sa), sizeof sa) == 0;
    ::close(fd);
    return ok;
}

std::string temp_root() {
    const char* tmp = std::getenv("TMPDIR");
    return tmp && tmp[0] ? tmp : "/tmp";
}

}  // namespace

std::unique_ptr<SoundServer> SoundServer::start(int rate, int channels, std::string* error) {
    std::string pattern = temp_root() + "/quorvane-sound-XXXXXX";
    if (!::mkdtemp(&pattern[0])) {
        *error = "cannot make a folder for the sound server: " + std::string(std::strerror(errno));
        return nullptr;
    }
    std::unique_ptr<SoundServer> s(new SoundServer());
    s->folder_ = pattern;
    s->socket_ = pattern + "/native";
    s->address_ = "unix:" + s->socket_;

    std::string sink = "module-null-sink sink_name=quorvane format=s16le rate=" + std::to_string(rate) +
                       " channels=" + std::to_string(channels) +
                       (channels == 1 ? " channel_map=mono" : "") + " sink_properties=device.description=Quorvane";
    // The folder is the owner's alone (mkdtemp makes it 0700), so the
    // socket needs no cookie.
    std::string native = "module-native-protocol-unix auth-anonymous=1 socket=" + s->socket_;
    std::vector<std::string> argv = {"pulseaudio", "-n", "--daemonize=no", "--exit-idle-time=-1",
                                     "--use-pid-file=no", "--realtime=no", "--high-priority=no",
                                     "--disallow-exit", "--log-level=error", "--log-target=stderr",
                                     "-L", sink, "-L", native, "--disallow-module-loading"};
    std::vector<std::string> env = {"HOME=" + pattern, "XDG_RUNTIME_DIR=" + pattern,
                                    "XDG_CONFIG_HOME=" + pattern, "PULSE_RUNTIME_PATH=" + pattern,
                                    "PULSE_STATE_PATH=" + pattern, "PULSE_SERVER=", "DISPLAY="};
    if (!s->process_.start(argv, env, {}, true, error)) return nullptr;

    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!accepts(s->socket_)) {
        if (!s->process_.running()) {
            *error = "the sound server (pulseaudio) did not start; see its messages above";
            return nullptr;
        }
        if (std::chrono::steady_clock::now() > deadline) {
            *error = "the sound server (pulseaudio) did not open its socket within 10 s";
            return nullptr;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    std::string why;
    s->pacer_ = SoundRecorder::open(s->address_, 8000, 1, &why);
    if (!s->pacer_) log_line("sound server %s: %s; sound may start late", s->address_.c_str(), why.c_str());
    return s;
}

std::unique_ptr<SoundServer> start_sound_server(std::string* error) { return SoundServer::start(48000, 2, error); }

SoundServer::~SoundServer() {
    pacer_.reset();
    process_.stop();
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
}

}  // namespace qvs
