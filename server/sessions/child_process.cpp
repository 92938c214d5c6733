// Starting programs under a supervisor that takes them along when the
// server ends. Between fork and exec only async-signal-safe calls are made:
// the server has other threads whose locks may be held at the fork.
#include "server/sessions/child_process.h"

#include <errno.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

namespace qvs {

namespace {

// Descriptors handed on are first moved up to here or above, out of the
// way of the numbers they get in the program.
const int PARKED_FDS = 100;
const size_t MAX_FDS = 8;

[[noreturn]] void supervise(pid_t server, char* const* argv, char* const* envp, const char* home,
                            const ChildProcess::Fd* fds, size_t fd_count, bool keep_stderr) {
    ::setpgid(0, 0);
    // Programs start at home, not wherever the server was started.
    if (home) (void)::chdir(home);
    sigset_t watched;
    sigemptyset(&watched);
    sigaddset(&watched, SIGCHLD);
    sigaddset(&watched, SIGTERM);
    sigaddset(&watched, SIGHUP);
    sigaddset(&watched, SIGINT);
    sigprocmask(SIG_SETMASK, &watched, nullptr);
    int null_fd = ::open("/dev/null", O_RDWR);
    ::dup2(null_fd, 0);
    ::dup2(null_fd, 1);
    if (!keep_stderr) ::dup2(null_fd, 2);
    int parked[MAX_FDS];
    for (size_t i = 0; i < fd_count; i++) parked[i] = fcntl(fds[i].from, F_DUPFD, PARKED_FDS);
    for (int fd = 3; fd < 4096; fd++) {
        bool keep = false;
        for (size_t i = 0; i < fd_count; i++) keep = keep || parked[i] == fd;
        if (!keep) ::close(fd);
    }

    pid_t program = ::fork();
    if (program == 0) {
        // Dies with its supervisor, which is single-threaded.
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        sigset_t none;
        sigemptyset(&none);
        sigprocmask(SIG_SETMASK, &none, nullptr);
        for (size_t i = 0; i < fd_count; i++) ::dup2(parked[i], fds[i].to);  // without close-on-exec
        for (size_t i = 0; i < fd_count; i++) ::close(parked[i]);
        execvpe(argv[0], argv, envp);
        _exit(127);
    }
    for (size_t i = 0; i < fd_count; i++) ::close(parked[i]);
    timespec quarter = {0, 250 * 1000 * 1000};
    for (;;) {
        siginfo_t info;
        int sig = sigtimedwait(&watched, &info, &quarter);
        bool orphaned = getppid() != server;
        int status = 0;
        bool program_ended = program < 0 || ::waitpid(program, &status, WNOHANG) == program;
        if (orphaned || program_ended || sig == SIGTERM || sig == SIGHUP || sig == SIGINT) {
            ::kill(0, SIGKILL);  // the whole group, this supervisor too
            _exit(0);
        }
    }
}

// A NULL-terminated copy of the environment with `extra` in front.
std::vector<std::string> merged_environment(const std::vector<std::string>& extra) {
    std::vector<std::string> env = extra;
    for (char** e = environ; *e; e++) {
        const char* eq = std::strchr(*e, '=');
        size_t name = eq ? size_t(eq - *e) : std::strlen(*e);
        bool overridden = false;
        for (const std::string& x : extra)
            if (x.size() > name && x[name] == '=' && x.compare(0, name, *e, name) == 0) overridden = true;
        if (!overridden) env.push_back(*e);
    }
    return env;
}

std::vector<char*> pointers(std::vector<std::string>& texts) {
    std::vector<char*> out;
    for (std::string& t : texts) out.push_back(&t[0]);
    out.push_back(nullptr);
    return out;
}

}  // namespace

bool ChildProcess::start(const std::vector<std::string>& argv_in, const std::vector<std::string>& environment,
                         const std::vector<Fd>& fds, bool keep_stderr, std::string* error) {
    stop();
    if (fds.size() > MAX_FDS) {
        *error = "too many descriptors for a program";
        return false;
    }
    std::vector<std::string> args = argv_in, env = merged_environment(environment);
    std::vector<char*> argv = pointers(args), envp = pointers(env);
    pid_t server = ::getpid();
    const char* home = std::getenv("HOME");
    pid_t pid = ::fork();
    if (pid < 0) {
        *error = std::string("fork: ") + std::strerror(errno);
        return false;
    }
    if (pid == 0) supervise(server, argv.data(), envp.data(), home, fds.data(), fds.size(), keep_stderr);
    // Also here, so that a stop() right after start() finds the group.
    ::setpgid(pid, pid);
    supervisor_ = pid;
    exited_ = false;
    return true;
}

bool ChildProcess::running() {
    if (supervisor_ < 0 || exited_) return false;
    int status = 0;
    pid_t r = ::waitpid(supervisor_, &status, WNOHANG);
    // ECHILD: another thread has just collected it.
    if (r == supervisor_ || (r < 0 && errno == ECHILD)) exited_ = true;
    return !exited_;
}

void ChildProcess::stop() {
    if (supervisor_ < 0) return;
    if (!exited_) {
        ::kill(-supervisor_, SIGKILL);
        ::kill(supervisor_, SIGKILL);
        int status = 0;
        while (::waitpid(supervisor_, &status, 0) < 0 && errno == EINTR) {
        }
    }
    supervisor_ = -1;
    exited_ = true;
}

}  // namespace qvs
