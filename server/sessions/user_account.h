// Running as another user: a server started as root binds its port and
// then becomes the configured user, so that the X servers, programs,
// browsers and sound servers it starts for clients run as that user too.
#ifndef QV_SERVER_USER_ACCOUNT_H
#define QV_SERVER_USER_ACCOUNT_H

#include <string>

namespace qvs {

// Makes this process `name` (its uid, gid and groups, for good) and sets
// HOME, USER and LOGNAME to its. Call before any thread starts. False with
// `error` when there is no such user or a step fails.
bool become_user(const std::string& name, std::string* error);

}  // namespace qvs

#endif
