// A connection's greeting and menu: the Hello and its key, the size, rate
// and sound agreed from it, the menu, and going from the menu to a stream
// and back.
#include <algorithm>

#include "server/log.h"
#include "server/net/connection.h"
#include "server/net/key_gate.h"
#include "server/sessions/menu.h"

namespace qvs {

namespace {

int clamp(int v, int lo, int hi) { return v < lo ? lo : v > hi ? hi : v; }

}  // namespace

void Connection::on_hello() {
    if (config_.require_key) {
        int64_t retry = 0;
        bool right = KeyGate::instance().check(host_, hello_.key, config_.key, config_.wrong_key_wait_ms, now_ms(),
                                               &retry);
        hello_waiting_ = retry > 0;
        if (hello_waiting_) {
            hello_retry_ = now_ms() + retry;
            return;
        }
        if (!right) {
            log_line("#%d: wrong key, refused", number_);
            queue(make_server_text(0, "Fel nyckel: servern släpper inte in dig. Ändra nyckeln med F10."));
            phase_ = CLOSING;
            phase_deadline_ = now_ms() + config_.refuse_linger_ms;
            return;
        }
    }
    admission_->admit();
    format_.width = clamp(config_.width ? config_.width : hello_.width ? hello_.width : 640, MIN_WIDTH, MAX_WIDTH);
    format_.height =
        clamp(config_.height ? config_.height : hello_.height ? hello_.height : 480, MIN_HEIGHT, MAX_HEIGHT);
    fps_ = clamp(config_.fps ? config_.fps : hello_.fps ? hello_.fps : 30, 1, MAX_FPS);
    format_.fps = fps_;
    format_.rate = config_.audio && hello_.sample_rate
                       ? clamp(int(std::min<uint32_t>(hello_.sample_rate, 1000000)), MIN_SAMPLE_RATE, MAX_SAMPLE_RATE)
                       : 0;
    format_.channels = hello_.channels == 1 ? 1 : 2;
    workspace_ = Workspaces::instance().attach(hello_.name, hello_.key);
    phase_ = MENU;
    menu_ = current_menu(config_.apps);
    send_menu();
    std::string name = hello_.name.empty() ? std::string("du") : utf8_cut(hello_.name, 31);
    queue(make_server_text(0, "Välkommen, " + name + "! Välj med pilarna och Enter."));
}

void Connection::on_launch(uint16_t id) {
    const AppEntry* entry = nullptr;
    for (const AppEntry& e : menu_)
        if (e.id == id) entry = &e;
    if (!entry) {
        log_line("#%d: launch of unknown id %u", number_, id);
        queue(make_server_text(0, "Det finns inget program med nummer " + std::to_string(id) + "."));
        return;
    }
    close_stream();
    log_line("#%d: launch %u \"%s\"", number_, id, loggable(entry->name).c_str());
    // Starting a program takes a moment: say so first.
    queue(make_server_text(0, "Startar " + entry->name + " ..."));
    flush_output();
    std::string error;
    if (!stream_.open(*entry, *workspace_, format_, fps_, &error)) {
        log_line("#%d: \"%s\" could not start", number_, loggable(entry->name).c_str());
        phase_ = MENU;
        queue(make_stream_state(0, 1, 0));
        queue(make_server_text(0, error));
        return;
    }
    if (!stream_.source().ready()) {
        phase_ = STARTING;
        return;
    }
    begin_streaming();
}

void Connection::begin_streaming() {
    const AppEntry* entry = &stream_.entry();
    queue(make_stream_setup(uint16_t(format_.width), uint16_t(format_.height), format_.rate,
                            uint8_t(format_.channels), entry->name));
    queue(make_server_text(0, entry->name + " körs. F9 = tillbaka till menyn."));
    queue(make_server_text(TEXT_SLOT_TITLE, entry->name));
    queue(make_stream_state(1, stream_.source().pointer_mode(), menu_kind(entry->kind)));
    phase_ = STREAMING;
    log_line("#%d: streaming \"%s\" %dx%d at %d fps, sound %s", number_, loggable(entry->name).c_str(),
             format_.width, format_.height, fps_,
             format_.rate ? (std::to_string(format_.rate) + " Hz x " + std::to_string(format_.channels)).c_str()
                          : "off");
}

void Connection::close_stream() {
    // A PIN shown for a pairing that ends unfinished would linger.
    if (phase_ == STARTING) queue(make_server_text(TEXT_SLOT_PIN, ""));
    if (phase_ == STARTING || phase_ == STREAMING) stream_.close();
}

void Connection::send_menu() {
    std::vector<MenuItem> items;
    for (const AppEntry& e : menu_) items.push_back({e.id, menu_kind(e.kind), e.name});
    queue(make_app_list(items));
}

void Connection::back_to_menu(const std::string& status) {
    log_line("#%d: back to the menu", number_);
    close_stream();
    // Sound not yet begun on the wire is of no use any more.
    out_.drop_unsent_audio();
    phase_ = MENU;
    // A game stream host's apps may have become known meanwhile.
    std::vector<AppEntry> menu = current_menu(config_.apps);
    bool changed = menu.size() != menu_.size();
    for (size_t i = 0; !changed && i < menu.size(); i++) changed = menu[i].id != menu_[i].id || menu[i].name != menu_[i].name;
    if (changed) {
        menu_ = menu;
        send_menu();
    }
    queue(make_stream_state(0, 1, 0));
    queue(make_server_text(0, status));
}

}  // namespace qvs
