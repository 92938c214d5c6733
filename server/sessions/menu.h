// The menu one client sees: the configured entries, with a game stream
// entry that names no app replaced by one entry per app of its host
// ("Spel: Desktop", "Spel: Steam") once the host's list is known.
#ifndef QV_SERVER_MENU_H
#define QV_SERVER_MENU_H

#include <vector>

#include "server/config.h"

namespace qvs {

// Entries of an expanded entry number N are numbered N * 256 + 1, + 2 ...,
// apart from every configured entry's number (1 to 64).
std::vector<AppEntry> current_menu(const std::vector<AppEntry>& configured);

}  // namespace qvs

#endif
