// Web entries are listed but cannot run yet: the client is told so.
#include "server/web_session.h"

namespace qvs {

std::shared_ptr<AppSession> start_web_session(const AppEntry& entry, const StreamFormat&,
                                              const std::vector<std::string>&, std::string* error) {
    *error = "Webbläsaren (" + entry.name + ") finns inte i den här servern ännu.";
    return nullptr;
}

}  // namespace qvs
