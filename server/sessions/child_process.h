// A program the server starts (an X server, a window manager, a client's
// program), in a process group of its own under a small supervisor, so
// that nothing of it outlives the server:
//
//   server ── supervisor (own process group) ── the program and its children
//
// The supervisor watches its parent: when the server goes away, also by
// SIGKILL, it kills the whole group within a quarter of a second. When the
// program exits, it kills what the program left in the group and exits.
// Ending a ChildProcess (stop() or its destructor) kills the group.
#ifndef QV_SERVER_CHILD_PROCESS_H
#define QV_SERVER_CHILD_PROCESS_H

#include <sys/types.h>

#include <atomic>

#include <string>
#include <vector>

namespace qvs {

class ChildProcess {
public:
    // A descriptor of the server handed to the program under number `to`
    // (a pipe for -displayfd, the pipes of --remote-debugging-pipe).
    struct Fd {
        int from, to;
    };

    // Starts argv[0] (looked up in PATH) with `environment` added to the
    // server's ("NAME=value"). Of the server's descriptors above 2 only
    // `fds` reach the program. Standard input and output are /dev/null;
    // standard error too unless `keep_stderr`. Returns false with `error`
    // filled when it cannot fork.
    bool start(const std::vector<std::string>& argv, const std::vector<std::string>& environment,
               const std::vector<Fd>& fds, bool keep_stderr, std::string* error);
    ~ChildProcess() { stop(); }

    // True while the program has not exited.
    bool running();
    // Kills the program's whole group and waits for the supervisor.
    void stop();

    pid_t pid() const { return supervisor_; }

private:
    pid_t supervisor_ = -1;
    std::atomic<bool> exited_{false};  // running() may be asked from several connections
};

}  // namespace qvs

#endif
