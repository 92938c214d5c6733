// Fuzz target: any configuration file of the server. One it takes gives a
// menu the client can show and settings within their bounds; one it refuses
// gives one line that names the file and the line.
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "fuzz/fuzz_check.h"
#include "server/config.h"

using qvs::AppKind;

static std::string file;

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    fuzz_default_artifacts(argc, argv);
    char name[] = "/dev/shm/qvfuzz-config-XXXXXX";
    int fd = mkstemp(name);
    FUZZ_CHECK(fd >= 0 && close(fd) == 0);
    file = name;
    return std::atexit([] { std::remove(file.c_str()); });
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (file.empty()) LLVMFuzzerInitialize(nullptr, nullptr);
    FILE* f = std::fopen(file.c_str(), "wb");
    FUZZ_CHECK(f != nullptr && std::fwrite(data, 1, size, f) == size && std::fclose(f) == 0);
    qvs::FileSettings s;
    std::string error, address;
    int port = -1;
    if (!qvs::load_config(file, &s, &error))
        return FUZZ_CHECK(error.rfind(file + ":", 0) == 0 && error.find('\n') == std::string::npos), 0;
    FUZZ_CHECK(!s.apps.empty() && s.apps.size() <= 64 && s.keep_sessions >= 0 && s.keep_sessions <= 10080);
    FUZZ_CHECK(s.quality == 0 || s.quality == qvs::QUALITY_AUTO_SETTING || (s.quality >= 1 && s.quality <= 100));
    FUZZ_CHECK(!s.has_listen || (qvs::parse_listen(s.listen, &address, &port) && port >= 0 && port <= 65535));
    FUZZ_CHECK(!s.has_key || (!s.key.empty() && qvs::key_bytes_sent(s.key) == s.key.size()));
    for (size_t i = 0; i < s.apps.size(); i++) {
        const qvs::AppEntry& e = s.apps[i];
        bool on_display = e.kind == AppKind::Screen || e.kind == AppKind::Window;
        FUZZ_CHECK(e.id == i + 1 && !e.name.empty() && e.name.size() <= 255 && (!on_display || !e.display.empty()));
        FUZZ_CHECK(e.kind != AppKind::Program || (!e.command.empty() && !e.command[0].empty()));
        FUZZ_CHECK((e.kind != AppKind::Window || !e.title.empty()) && (e.kind != AppKind::Web || !e.home.empty()));
    }
    return 0;
}
