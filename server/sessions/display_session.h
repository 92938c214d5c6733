// What program and web sessions share: the client's private X server at its
// size, the workspace's sound server, and the screen source over both.
#ifndef QV_SERVER_DISPLAY_SESSION_H
#define QV_SERVER_DISPLAY_SESSION_H

#include <memory>
#include <string>
#include <vector>

#include "server/sessions/app_session.h"
#include "server/sessions/private_display.h"
#include "server/sources/x_source.h"

namespace qvs {

class DisplaySession : public AppSession {
protected:
    // Starts the X server; false with a Swedish `error` (the detail logged).
    bool start_display(const AppEntry& entry, const StreamFormat& format,
                       const std::vector<std::string>& environment, std::string* error);
    // Logs `why` under the entry's name and gives the client `text`; false.
    bool fail(const std::string& why, const std::string& text, std::string* error) const;
    // The whole display with the workspace's sound at `format`; `keep` (the
    // session itself) lives as long as the source. Null with `error`.
    std::unique_ptr<XSource> open_screen(const StreamFormat& format, std::shared_ptr<void> keep,
                                         std::string* error);
    // The end text once the X server has gone, else empty.
    std::string display_gone();

    std::string name_;
    std::string sound_server_;  // the workspace's, or "" without sound
    PrivateDisplay display_;    // a subclass's members end before it
};

}  // namespace qvs

#endif
