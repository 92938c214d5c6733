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

namespace {

std::string file;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    fuzz_default_artifacts(argc, argv);
    char in_memory[] = "/dev/shm/qvfuzz-config-XXXXXX", on_disk[] = "/tmp/qvfuzz-config-XXXXXX";
    int fd = mkstemp(in_memory);
    file = fd >= 0 ? in_memory : (fd = mkstemp(on_disk)) >= 0 ? on_disk : "";
    FUZZ_CHECK(fd >= 0 && close(fd) == 0);
    std::atexit([] { std::remove(file.c_str()); });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (file.empty()) LLVMFuzzerInitialize(nullptr, nullptr);
    FILE* f = std::fopen(file.c_str(), "wb");
    FUZZ_CHECK(f != nullptr && std::fwrite(data, 1, size, f) == size && std::fclose(f) == 0);
    qvs::FileSettings s;
    std::string error, address;
    if (!qvs::load_config(file, &s, &error)) {
        FUZZ_CHECK(error.compare(0, file.size() + 1, file + ":") == 0 && error.find('\n') == std::string::npos);
        return 0;
    }
    FUZZ_CHECK(!s.apps.empty() && s.apps.size() <= 64 && s.keep_sessions >= 0 && s.keep_sessions <= 10080);
    FUZZ_CHECK(s.quality == 0 || s.quality == qvs::QUALITY_AUTO_SETTING || (s.quality >= 1 && s.quality <= 100));
    int port = -1;
    FUZZ_CHECK(!s.has_listen || (qvs::parse_listen(s.listen, &address, &port) && port >= 0 && port <= 65535));
    FUZZ_CHECK(!s.has_key || (!s.key.empty() && qvs::key_bytes_sent(s.key) == s.key.size()));
    for (size_t i = 0; i < s.apps.size(); i++) {
        const qvs::AppEntry& e = s.apps[i];
        FUZZ_CHECK(e.id == i + 1 && !e.name.empty() && e.name.size() <= 255);
        FUZZ_CHECK(e.kind != qvs::AppKind::Program || (!e.command.empty() && !e.command[0].empty()));
        FUZZ_CHECK((e.kind != qvs::AppKind::Screen && e.kind != qvs::AppKind::Window) || !e.display.empty());
        FUZZ_CHECK((e.kind != qvs::AppKind::Window || !e.title.empty()) && (e.kind != qvs::AppKind::Web || !e.home.empty()));
    }
    return 0;
}
