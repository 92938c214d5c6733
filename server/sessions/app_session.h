// A program or a browser that one client started: it lives in the client's
// workspace across visits to the menu and lost links, and shows itself to
// the connection through a Source.
#ifndef QV_SERVER_APP_SESSION_H
#define QV_SERVER_APP_SESSION_H

#include <memory>
#include <string>
#include <vector>

#include "server/config.h"
#include "server/sources/source.h"

namespace qvs {

class AppSession {
public:
    virtual ~AppSession() = default;
    // A source that shows the session at `format`; null with a Swedish
    // `error` for the client.
    virtual std::unique_ptr<Source> watch(const StreamFormat& format, std::string* error) = 0;
    // Empty while it runs; once it has ended, a Swedish status text.
    virtual std::string ended() = 0;
};

// Starts the session of a program or web entry at the client's size, with
// `environment` ("NAME=value": the workspace's sound server) added for what
// it runs. Null with a Swedish `error` for the client (details are logged).
std::shared_ptr<AppSession> start_app_session(const AppEntry& entry, const StreamFormat& format,
                                              const std::vector<std::string>& environment, std::string* error);

}  // namespace qvs

#endif
