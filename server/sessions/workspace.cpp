#include "server/sessions/workspace.h"

#include <chrono>

#include "server/log.h"

namespace qvs {

namespace {

// Workspaces kept at most, so that clients coming and going under ever new
// names cannot pile up X servers.
const size_t MAX_WORKSPACES = 32;

}  // namespace

std::shared_ptr<AppSession> Workspace::session(const AppEntry& entry, const StreamFormat& format,
                                               std::string* error) {
    std::lock_guard<std::mutex> hold(lock_);
    auto it = sessions_.find(entry.id);
    if (it != sessions_.end() && it->second->ended().empty()) return it->second;
    std::shared_ptr<AppSession> s = start_app_session(entry, format, environment(format.rate > 0), error);
    if (s) sessions_[entry.id] = s;
    else sessions_.erase(entry.id);
    return s;
}

void Workspace::forget(uint16_t id) {
    std::shared_ptr<AppSession> ending;
    {
        std::lock_guard<std::mutex> hold(lock_);
        auto it = sessions_.find(id);
        if (it == sessions_.end()) return;
        ending = it->second;
        sessions_.erase(it);
    }
}

std::vector<std::string> Workspace::environment(bool sound) {
    if (sound && !sound_ && !sound_failed_) {
        std::string why;
        sound_ = start_sound_server(&why);
        if (!sound_) {
            sound_failed_ = true;
            log_line("no sound for programs: %s", why.c_str());
        }
    }
    // Without a sound server of its own a program would find the machine's.
    return {"PULSE_SERVER=" + (sound && sound_ ? sound_->address() : std::string(NO_SOUND_SERVER))};
}

Workspaces& Workspaces::instance() {
    static Workspaces* all = new Workspaces();  // never destroyed: threads may still use it at exit
    return *all;
}

std::shared_ptr<Workspace> Workspaces::attach(const std::string& name, const std::string& key) {
    std::lock_guard<std::mutex> hold(lock_);
    std::string id = name + '\0' + key;
    if (!all_.count(id) && all_.size() >= MAX_WORKSPACES) {
        // Room for a new client: the one that left longest ago goes now.
        auto oldest = all_.end();
        for (auto it = all_.begin(); it != all_.end(); ++it)
            if (it->second->connections_ == 0 && (oldest == all_.end() || it->second->left_ms_ < oldest->second->left_ms_))
                oldest = it;
        if (oldest != all_.end()) all_.erase(oldest);
    }
    std::shared_ptr<Workspace>& w = all_[id];
    if (!w) w = std::make_shared<Workspace>();
    w->connections_++;
    return w;
}

void Workspaces::release(const std::shared_ptr<Workspace>& workspace) {
    std::lock_guard<std::mutex> hold(lock_);
    if (--workspace->connections_ == 0) workspace->left_ms_ = now_ms();
}

void Workspaces::expire(int64_t keep_ms) {
    std::vector<std::shared_ptr<Workspace>> ending;
    {
        std::lock_guard<std::mutex> hold(lock_);
        int64_t now = now_ms();
        for (auto it = all_.begin(); it != all_.end();) {
            if (it->second->connections_ == 0 && now - it->second->left_ms_ >= keep_ms) {
                ending.push_back(it->second);
                it = all_.erase(it);
            } else {
                ++it;
            }
        }
    }
    // The sessions end here, outside the lock: killing and waiting takes a moment.
    if (!ending.empty()) log_line("%zu workspace(s) ended after their clients left", ending.size());
}

void Workspaces::clear() {
    std::map<std::string, std::shared_ptr<Workspace>> ending;
    {
        std::lock_guard<std::mutex> hold(lock_);
        ending.swap(all_);
    }
}

}  // namespace qvs
