#include "server/sessions/user_account.h"

#include <errno.h>
#include <grp.h>
#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>

namespace qvs {

bool become_user(const std::string& name, std::string* error) {
    errno = 0;
    const passwd* pw = ::getpwnam(name.c_str());
    if (!pw) {
        *error = "no user '" + name + "' on this machine";
        return false;
    }
    // Copied: the next lookup (initgroups) may reuse getpwnam's buffer.
    uid_t uid = pw->pw_uid;
    gid_t gid = pw->pw_gid;
    std::string home = pw->pw_dir ? pw->pw_dir : "/";
    // Groups first, then the gid, then the uid: after setuid there is no
    // right left to change the others.
    if (::initgroups(name.c_str(), gid) != 0 || ::setgid(gid) != 0 || ::setuid(uid) != 0) {
        *error = "cannot become user '" + name + "': " + std::strerror(errno);
        return false;
    }
    // A uid that could go back to root would undo all of it.
    if (uid != 0 && (::setuid(0) == 0 || ::geteuid() == 0)) {
        *error = "still able to become root after switching to '" + name + "'";
        return false;
    }
    ::setenv("HOME", home.c_str(), 1);
    ::setenv("USER", name.c_str(), 1);
    ::setenv("LOGNAME", name.c_str(), 1);
    // Root's runtime folder is no place for the user's sockets.
    ::unsetenv("XDG_RUNTIME_DIR");
    return true;
}

}  // namespace qvs
