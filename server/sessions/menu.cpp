#include "server/sessions/menu.h"

#include "server/moonlight/host_apps.h"

namespace qvs {

std::vector<AppEntry> current_menu(const std::vector<AppEntry>& configured) {
    std::vector<AppEntry> menu;
    for (const AppEntry& e : configured) {
        std::vector<std::string> titles;
        if (e.kind == AppKind::Moonlight && e.host_app.empty()) titles = HostApps::instance().known(e.host, e.port);
        // Until the host was asked (or while it is not paired), the entry
        // stands for the host: choosing it pairs and fetches the list.
        if (titles.empty()) menu.push_back(e);
        for (size_t k = 0; k < titles.size() && k < 255; k++) {
            AppEntry app = e;
            app.id = uint16_t(e.id * 256 + k + 1);
            app.name = e.name + ": " + titles[k];
            app.host_app = titles[k];
            menu.push_back(app);
        }
    }
    // The client shows 64 entries.
    if (menu.size() > 64) menu.resize(64);
    return menu;
}

}  // namespace qvs
