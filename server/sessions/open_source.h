// Where a menu entry's picture comes from: the factory of sources.
#ifndef QV_SERVER_OPEN_SOURCE_H
#define QV_SERVER_OPEN_SOURCE_H

#include <memory>
#include <string>

#include "server/sessions/app_session.h"
#include "server/config.h"
#include "server/sources/source.h"
#include "server/sessions/workspace.h"

namespace qvs {

// The source of `entry` for one client: the demo, an existing display or
// window, or the client's program or browser session (started when it does
// not run yet). Null with a Swedish `error` for the client.
std::unique_ptr<Source> open_source(const AppEntry& entry, Workspace& workspace, const StreamFormat& format,
                                    bool noise, std::string* error);

}  // namespace qvs

#endif
