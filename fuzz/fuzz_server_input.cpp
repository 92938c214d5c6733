// Fuzz target: a client's bytes as they come off the socket into a server
// connection, through the greeting (and its key), the menu and the stream of
// demo entries, until they run out and the connection ends by itself. What
// the connection sent back is whole messages of the kinds a client reads.
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "fuzz/fuzz_check.h"
#include "server/net/admission.h"
#include "server/net/server.h"
#include "server/protocol.h"

namespace {

qvs::ServerConfig make_config() {
    qvs::ServerConfig c;
    c.apps.resize(2);
    c.apps[0].id = 1, c.apps[0].name = "Demo";
    c.apps[1].id = 2, c.apps[1].name = "Demo \xC3\xA5\xC3\xA4\xC3\xB6";
    c.require_key = true;
    c.key = "hemlig";
    c.width = 64, c.height = 48;  // small pictures, whatever the Hello asks
    c.wrong_key_wait_ms = 1, c.refuse_linger_ms = 0;
    return c;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    fuzz_default_artifacts(argc, argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const qvs::ServerConfig config = make_config();
    int ends[2], room = 1 << 20;
    FUZZ_CHECK(socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) == 0);
    setsockopt(ends[1], SOL_SOCKET, SO_SNDBUF, &room, sizeof room);
    setsockopt(ends[0], SOL_SOCKET, SO_SNDBUF, &room, sizeof room);
    FUZZ_CHECK(size == 0 || send(ends[1], data, size, MSG_DONTWAIT) == ssize_t(size));
    shutdown(ends[1], SHUT_WR);
    qvs::serve_connection(std::make_shared<qvs::Admission>(ends[0], "127.0.0.1"), config, 1, "fuzz", nullptr);

    static std::vector<uint8_t> out(1 << 20);  // more than the socket holds; made once, for speed
    size_t got = 0;
    for (ssize_t n; got < out.size() && (n = recv(ends[1], &out[got], out.size() - got, MSG_DONTWAIT)) > 0;)
        got += size_t(n);
    close(ends[1]);
    for (size_t at = 0; at + WIRE_HEADER_SIZE <= got;) {
        uint32_t length = qvs::read_u32(&out[at]);
        uint8_t type = out[at + 4];
        FUZZ_CHECK(type >= MSG_STREAM_SETUP && type <= MSG_PONG && length <= WIRE_MAX_PAYLOAD);
        at += WIRE_HEADER_SIZE + length;  // a last message cut off is one the client did not wait for
    }
    return 0;
}
