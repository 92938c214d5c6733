#include "server/sessions/open_source.h"

#include "server/sources/demo_source.h"
#include "server/log.h"
#include "server/moonlight/moonlight_source.h"
#include "server/sources/x_source.h"

namespace qvs {

std::unique_ptr<Source> open_source(const AppEntry& entry, Workspace& workspace, const StreamFormat& format,
                                    bool noise, std::string* error) {
    switch (entry.kind) {
    case AppKind::Demo:
        return std::unique_ptr<Source>(new DemoSource(entry.name, format, noise));
    case AppKind::Screen:
    case AppKind::Window: {
        std::string why;
        std::unique_ptr<XSource> s = XSource::open(entry.display, entry.title, nullptr, nullptr, &why);
        if (!s) {
            log_line("\"%s\": %s", entry.name.c_str(), why.c_str());
            *error = entry.kind == AppKind::Window ? "Fönstret för " + entry.name + " finns inte just nu."
                                                   : "Skärmen " + entry.display + " går inte att visa.";
            return nullptr;
        }
        s->set_sound(record_sound(desktop_sound_server(), format.rate, format.channels));
        return s;
    }
    case AppKind::Moonlight:
        return std::unique_ptr<Source>(new MoonlightSource(entry, format));
    case AppKind::Program:
    case AppKind::Web: {
        std::shared_ptr<AppSession> session = workspace.session(entry, format, error);
        return session ? session->watch(format, error) : nullptr;
    }
    }
    return nullptr;
}

}  // namespace qvs
