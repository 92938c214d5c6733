#include "server/sessions/display_session.h"

#include "server/log.h"
#include "server/sessions/sound_server.h"
#include "server/sources/sound_recorder.h"

namespace qvs {

bool DisplaySession::start_display(const AppEntry& entry, const StreamFormat& format,
                                   const std::vector<std::string>& environment, std::string* error) {
    name_ = entry.name;
    sound_server_ = sound_server_in(environment);
    if (sound_server_ == NO_SOUND_SERVER) sound_server_.clear();
    std::string why;
    if (!display_.start(format.width, format.height, &why))
        return fail(why, "Kunde inte starta en X-server för " + name_ + ".", error);
    return true;
}

bool DisplaySession::fail(const std::string& why, const std::string& text, std::string* error) const {
    log_line("\"%s\": %s", name_.c_str(), why.c_str());
    *error = text;
    return false;
}

std::unique_ptr<XSource> DisplaySession::open_screen(const StreamFormat& format, std::shared_ptr<void> keep,
                                                     std::string* error) {
    std::string why;
    // `keep` holds this session for as long as the source asks it.
    std::unique_ptr<XSource> screen = XSource::open(display_.name(), "", [this] { return ended(); }, keep, &why);
    if (!screen) {
        fail(why, "Kunde inte visa " + name_ + ".", error);
        return nullptr;
    }
    screen->set_sound(record_sound(sound_server_, format.rate, format.channels));
    return screen;
}

std::string DisplaySession::display_gone() {
    return display_.running() ? std::string() : "X-servern för " + name_ + " har stängts.";
}

}  // namespace qvs
