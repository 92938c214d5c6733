#include "server/moonlight/moonlight_source.h"

#include <algorithm>
#include <chrono>
#include <cstring>

#include "server/log.h"
#include "server/protocol.h"
#include "server/moonlight/host_apps.h"
#include "server/moonlight/pairing.h"
#include "server/moonlight/pairing_crypto.h"

namespace qvs {

const char* const MOONLIGHT_CHOOSE_APP = "Välj ett spel ur menyn.";

namespace {

// How long the PIN waits for a person at the host.
const long PAIRING_TIMEOUT_MS = 120000;
const uint8_t SLOT_STATUS = 0, SLOT_PIN = TEXT_SLOT_PIN;

}  // namespace

MoonlightSource::MoonlightSource(const AppEntry& entry, const StreamFormat& format)
    : entry_(entry), format_(format), thread_([this] { get_ready(); }) {}

MoonlightSource::~MoonlightSource() {
    cancel_ = true;
    thread_.join();
    stream_.reset();  // a graceful goodbye; the app runs on at the host
}

void MoonlightSource::say(uint8_t slot, const std::string& text) {
    std::lock_guard<std::mutex> hold(lock_);
    texts_.emplace_back(slot, text);
}

void MoonlightSource::fail(const std::string& text) {
    std::lock_guard<std::mutex> hold(lock_);
    failure_ = text;
}

bool MoonlightSource::next_text(uint8_t* slot, std::string* text) {
    std::lock_guard<std::mutex> hold(lock_);
    if (texts_.empty()) return false;
    *slot = texts_.front().first;
    *text = texts_.front().second;
    texts_.pop_front();
    return true;
}

std::string MoonlightSource::ended() {
    {
        std::lock_guard<std::mutex> hold(lock_);
        // Texts (an emptied PIN) go out before the end is told.
        if (!failure_.empty()) return texts_.empty() ? failure_ : std::string();
    }
    return ready_ ? stream_->ended() : std::string();
}

bool MoonlightSource::pair(HostApi& api, const ServerInfo& info) {
    std::string pin = make_pin();
    log_line("moonlight: pairing with %s, PIN shown to the client", entry_.host.c_str());
    say(SLOT_PIN, pin);
    // The title screen shows the PIN with its own prompt; the status line says how long it waits.
    say(SLOT_STATUS, "Väntar på PIN-koden i värdens webbgränssnitt (högst två minuter).");
    PairOutcome outcome = pair_with_host(api, info.app_version, pin, PAIRING_TIMEOUT_MS);
    say(SLOT_PIN, "");
    switch (outcome) {
    case PairOutcome::Paired:
        log_line("moonlight: paired with %s", entry_.host.c_str());
        say(SLOT_STATUS, "Parkopplad med " + entry_.host + ".");
        return true;
    case PairOutcome::WrongPin: fail("Fel PIN-kod. Välj spelet igen för en ny."); break;
    case PairOutcome::TimedOut: fail("Ingen PIN-kod inom två minuter. Välj spelet igen för en ny."); break;
    case PairOutcome::Refused: fail("Värden " + entry_.host + " vägrade parkopplingen."); break;
    case PairOutcome::Unreachable: fail("Värden " + entry_.host + " svarar inte."); break;
    case PairOutcome::Cancelled: fail("Parkopplingen avbröts."); break;
    }
    return false;
}

void MoonlightSource::get_ready() {
    std::string error;
    std::shared_ptr<ClientIdentity> identity = ClientIdentity::shared(&error);
    if (!identity) {
        log_line("moonlight: %s", error.c_str());
        return fail("Servern kan inte spara sitt certifikat för spelvärdar.");
    }
    HostApi api(entry_.host, entry_.port, identity);
    api.set_cancel(&cancel_);
    ServerInfo info;
    const std::string unreachable = "Värden " + entry_.host + " svarar inte. Är den på och kör Sunshine/Apollo?";
    Reach reach = api.server_info(&info);
    if (reach == Reach::BadReply) return fail(entry_.host + " svarar inte som en spelvärd (Sunshine/Apollo).");
    if (reach != Reach::Ok) return fail(unreachable);
    if (!info.paired) {
        // One pairing per host at a time; whoever waited finds it done. The
        // wait may take minutes, so it looks at cancel_ as it goes.
        std::unique_lock<std::mutex> hold(HostApps::instance().pairing_lock(entry_.host, entry_.port), std::defer_lock);
        if (!hold.try_lock()) say(SLOT_STATUS, "En annan klient parkopplar just med " + entry_.host + ". Vänta lite.");
        while (!hold.owns_lock() && !hold.try_lock()) {
            if (cancel_) return;
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        if (api.server_info(&info) != Reach::Ok) return fail(unreachable);
        if (!info.paired) {
            if (!pair(api, info)) return;
            if (api.server_info(&info) != Reach::Ok || !info.paired) return fail("Värden godtar inte parkopplingen.");
        }
    }
    std::vector<HostApp> apps;
    std::string message;
    if (api.app_list(&apps, &message) != Reach::Ok)
        return fail("Värden " + entry_.host + " visar inga program (" + message + ").");
    HostApps::instance().store(entry_.host, entry_.port, apps);
    if (entry_.host_app.empty()) return fail(MOONLIGHT_CHOOSE_APP);
    auto app = std::find_if(apps.begin(), apps.end(), [&](const HostApp& a) { return a.title == entry_.host_app; });
    if (app == apps.end()) return fail("Värden har inget program som heter \"" + entry_.host_app + "\".");

    // A fresh key for every stream, /resume when the host runs this app already.
    LaunchRequest request;
    request.app_id = app->id;
    request.width = format_.width;
    request.height = format_.height;
    request.fps = format_.fps;
    ByteString key = random_bytes(20);
    std::memcpy(request.rikey, key.data(), 16);
    request.rikeyid = int32_t(uint32_t(key[16]) << 24 | uint32_t(key[17]) << 16 | uint32_t(key[18]) << 8 | key[19]);
    bool resume = info.current_game == app->id;
    say(SLOT_STATUS, (resume ? "Återupptar " : "Startar ") + entry_.host_app + " på " + entry_.host + " ...");
    HostReply reply = api.launch(request, resume);
    std::string url = reply.field["sessionUrl0"];
    if (!reply.ok() || url.empty()) {
        log_line("moonlight: %s %s: status %ld %s", entry_.host.c_str(), resume ? "/resume" : "/launch", reply.status,
                 reply.message.c_str());
        if (reply.reach != Reach::Ok) return fail(unreachable);
        if (info.current_game && !resume) return fail("Värden kör redan ett annat program. Avsluta det där först.");
        return fail("Värden kunde inte starta " + entry_.host_app + ": " + reply.message);
    }
    GameStreamLaunch launch;
    launch.host = entry_.host;
    launch.session_url = url;
    std::memcpy(launch.rikey, request.rikey, 16);
    launch.rikeyid = request.rikeyid;
    launch.app_version = info.app_version;
    launch.width = request.width;
    launch.height = request.height;
    launch.fps = request.fps;
    launch.bitrate_kbps = std::clamp(request.width * request.height * request.fps / 3000, 1000, 20000);
    launch.audio_rate = format_.rate;
    launch.audio_channels = format_.channels;
    launch.relative_mouse = entry_.locked_pointer;
    if (cancel_) return;
    std::unique_ptr<GameStream> stream = GameStream::start(launch, &error);
    if (!stream) return fail(error);
    stream_ = std::move(stream);
    ready_ = true;
}

bool MoonlightSource::grab(std::vector<uint16_t>& out, int width, int height, bool force) {
    return ready_ && stream_->grab(out, width, height, force);
}
int MoonlightSource::wake_fd() { return ready_ ? stream_->wake_fd() : -1; }
void MoonlightSource::drain_wake() {
    if (ready_) stream_->drain_wake();
}
void MoonlightSource::input(uint8_t type, const uint8_t* payload, uint32_t length) {
    if (ready_) stream_->input(type, payload, length);
}
void MoonlightSource::release_input() {
    if (ready_) stream_->release_input();
}
size_t MoonlightSource::read_audio(int16_t* out, size_t max_frames) {
    return ready_ ? stream_->read_audio(out, max_frames) : 0;
}

}  // namespace qvs
