// A program entry's session: the client's private X server with its window
// manager, and the configured command running on it.
#include <memory>

#include "server/sessions/child_process.h"
#include "server/sessions/display_session.h"
#include "server/log.h"
#include "server/sessions/web_session.h"

namespace qvs {

namespace {

class ProgramSession : public DisplaySession, public std::enable_shared_from_this<ProgramSession> {
public:
    bool start(const AppEntry& entry, const StreamFormat& format, const std::vector<std::string>& environment,
               std::string* error) {
        if (!start_display(entry, format, environment, error)) return false;
        std::vector<std::string> env = environment;
        env.push_back("DISPLAY=" + display_.name());
        env.push_back(display_.authority());
        std::string why;
        if (!program_.start(entry.command, env, {}, true, &why)) return fail(why, "Kunde inte starta " + name_ + ".", error);
        log_line("\"%s\" started on %s (%dx%d)", name_.c_str(), display_.name().c_str(), format.width,
                 format.height);
        return true;
    }

    std::unique_ptr<Source> watch(const StreamFormat& format, std::string* error) override {
        return open_screen(format, shared_from_this(), error);
    }

    std::string ended() override {
        if (!program_.running()) return name_ + " har avslutats.";
        return display_gone();
    }

private:
    ChildProcess program_;  // ends before its display
};

}  // namespace

std::shared_ptr<AppSession> start_app_session(const AppEntry& entry, const StreamFormat& format,
                                              const std::vector<std::string>& environment, std::string* error) {
    if (entry.kind == AppKind::Web) return start_web_session(entry, format, environment, error);
    if (entry.kind != AppKind::Program) {
        *error = entry.name + " är inget program.";
        return nullptr;
    }
    // Shared: each watching source holds it too.
    auto session = std::make_shared<ProgramSession>();
    if (!session->start(entry, format, environment, error)) return nullptr;
    return session;
}

}  // namespace qvs
