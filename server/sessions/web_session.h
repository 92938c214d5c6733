// The browser of a web entry, in the client's private X server.
#ifndef QV_SERVER_WEB_SESSION_H
#define QV_SERVER_WEB_SESSION_H

#include <memory>
#include <string>
#include <vector>

#include "server/sessions/app_session.h"

namespace qvs {

// Null with a Swedish `error` for the client when the browser cannot start.
std::shared_ptr<AppSession> start_web_session(const AppEntry& entry, const StreamFormat& format,
                                              const std::vector<std::string>& environment, std::string* error);

}  // namespace qvs

#endif
