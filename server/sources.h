// Where a menu entry's picture comes from: the factory of sources.
#ifndef QV_SERVER_SOURCES_H
#define QV_SERVER_SOURCES_H

#include <memory>
#include <string>

#include "server/app_session.h"
#include "server/config.h"
#include "server/source.h"
#include "server/workspace.h"

namespace qvs {

// The source of `entry` for one client: the demo, an existing display or
// window, or the client's program or browser session (started when it does
// not run yet). Null with a Swedish `error` for the client.
std::unique_ptr<Source> open_source(const AppEntry& entry, Workspace& workspace, const StreamFormat& format,
                                    bool noise, std::string* error);

}  // namespace qvs

#endif
