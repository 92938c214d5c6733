// A program entry's session: the client's private X server with its window
// manager, and the configured command running on it.
#include <memory>

#include "server/app_session.h"
#include "server/child_process.h"
#include "server/log.h"
#include "server/private_display.h"
#include "server/web_session.h"
#include "server/x_source.h"

namespace qvs {

namespace {

class ProgramSession : public AppSession, public std::enable_shared_from_this<ProgramSession> {
public:
    bool start(const AppEntry& entry, const StreamFormat& format, const std::vector<std::string>& environment,
               std::string* error) {
        name_ = entry.name;
        sound_server_ = sound_server_in(environment);
        std::string why;
        if (!display_.start(format.width, format.height, &why)) {
            log_line("\"%s\": %s", name_.c_str(), why.c_str());
            *error = "Kunde inte starta en X-server för " + name_ + ".";
            return false;
        }
        std::vector<std::string> env = environment;
        env.push_back("DISPLAY=" + display_.name());
        if (!program_.start(entry.command, env, {}, true, &why)) {
            log_line("\"%s\": %s", name_.c_str(), why.c_str());
            *error = "Kunde inte starta " + name_ + ".";
            return false;
        }
        log_line("\"%s\" started on %s (%dx%d)", name_.c_str(), display_.name().c_str(), format.width,
                 format.height);
        return true;
    }

    std::unique_ptr<Source> watch(const StreamFormat& format, std::string* error) override {
        std::string why;
        std::shared_ptr<ProgramSession> self = shared_from_this();
        std::unique_ptr<XSource> source =
            XSource::open(display_.name(), "", [self] { return self->ended(); }, self, &why);
        if (!source) {
            log_line("\"%s\": %s", name_.c_str(), why.c_str());
            *error = "Kunde inte visa " + name_ + ".";
            return nullptr;
        }
        source->set_sound(record_sound(sound_server_, format.rate, format.channels));
        return source;
    }

    std::string ended() override {
        if (!program_.running()) return name_ + " har avslutats.";
        if (!display_.running()) return "X-servern för " + name_ + " har stängts.";
        return std::string();
    }

private:
    std::string name_;
    std::string sound_server_;  // the workspace's, or "" without sound
    PrivateDisplay display_;
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
