// server/sessions/ owns what a client starts and keeps: workspaces, program and web sessions, their X and sound.
//
// A client's workspace: the program and browser sessions it started,
// found again by the Hello's name and key, kept for `keep_sessions`
// minutes after its last connection ends, and the place of its private
// sound server.
#ifndef QV_SERVER_WORKSPACE_H
#define QV_SERVER_WORKSPACE_H

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "server/sessions/app_session.h"
#include "server/sessions/sound_server.h"

namespace qvs {

class Workspace {
public:
    // The session of `entry` (program or web), started when there is none
    // or the last one has ended. Null with a Swedish `error`.
    std::shared_ptr<AppSession> session(const AppEntry& entry, const StreamFormat& format, std::string* error);
    // Drops an ended session so that the next launch starts it afresh.
    void forget(uint16_t id);

private:
    friend class Workspaces;
    // What programs started here get besides the server's environment:
    // PULSE_SERVER of the sound server (started now when `sound`), or one
    // that leads nowhere.
    std::vector<std::string> environment(bool sound);

    std::mutex lock_;
    std::unique_ptr<SoundServer> sound_;  // before the sessions, so that it ends after them
    bool sound_failed_ = false;
    std::map<uint16_t, std::shared_ptr<AppSession>> sessions_;
    int connections_ = 0;     // guarded by Workspaces
    int64_t left_ms_ = 0;     // when the last connection ended
};

// Every client's workspace, process-wide.
class Workspaces {
public:
    static Workspaces& instance();

    // The workspace of name+key, made when new; the caller holds it until
    // its connection ends and then calls release.
    std::shared_ptr<Workspace> attach(const std::string& name, const std::string& key);
    void release(const std::shared_ptr<Workspace>& workspace);
    // Ends the sessions of workspaces nobody has used for `keep_ms`.
    void expire(int64_t keep_ms);
    // Ends every session (the server stops).
    void clear();

private:
    std::mutex lock_;
    std::map<std::string, std::shared_ptr<Workspace>> all_;
};

}  // namespace qvs

#endif
