// Chromium on an X display, without any browser chrome, filling the
// screen, driven over the DevTools protocol through a pipe (no TCP port):
// it opens what the client types, goes back and forward, and reports the
// address and title of every page it shows, also of one reached by a
// click. Each browser has a profile folder of its own, removed at its end.
#ifndef QV_SERVER_BROWSER_H
#define QV_SERVER_BROWSER_H

#include <atomic>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <nlohmann/json_fwd.hpp>

#include "server/sessions/child_process.h"
#include "server/sessions/web_address.h"

namespace qvs {

struct BrowserOptions {
    std::string display;               // ":N"
    int width = 640, height = 480;     // the window: the whole screen
    std::string home, search;          // the first page; where plain text goes
    std::vector<std::string> environment;  // added for Chromium ("PULSE_SERVER=...")
};

class Browser {
public:
    // Starts Chromium and opens `home`. Null with `error` (English, for the
    // log) when it cannot start.
    static std::unique_ptr<Browser> start(const BrowserOptions& options, std::string* error);
    ~Browser();
    Browser(const Browser&) = delete;
    Browser& operator=(const Browser&) = delete;

    // A WebAddress of the client: opened by the navigation rules, or
    // refused with a status text while the page stays.
    void open(const std::string& typed);
    void back() { step_history(-1); }
    void forward() { step_history(+1); }

    // Reports the address and title once more (a client came to watch).
    void report_again();

    // A text for the client (slot 1 address, 3 title, 0 status) that arose
    // since the last call; false when there is none. Any thread.
    bool next_text(uint8_t* slot, std::string* text);

    // Empty while Chromium runs; then a Swedish text that says it ended.
    std::string ended();

private:
    Browser() = default;
    void step_history(int step);
    // DevTools messages: `session` empty for the browser itself, else the
    // page's. Returns the message id.
    int send(const std::string& method, const nlohmann::json& params, bool to_page);
    void read_loop();
    void on_message(const nlohmann::json& message);
    void on_reply(const std::string& purpose, const nlohmann::json& message);
    void navigate(const WebTarget& target);
    void navigate(const std::string& url);
    void ask_history(const std::string& purpose);
    void say(uint8_t slot, const std::string& text);
    // False when `url` (the page just shown) is not on the web: it is left.
    bool guard(const std::string& url);

    BrowserOptions options_;
    std::string profile_;
    ChildProcess process_;
    int pipe_ = -1;
    std::thread reader_;
    std::atomic<bool> closed_{false};

    std::mutex lock_;                       // guards everything below
    std::string session_;                   // the page's DevTools session
    std::string target_;                    // the page's target id
    WebTarget pending_;                     // opened once the page is attached
    WebTarget trying_;                      // the last opened, for its fallback,
    int trying_id_ = 0;                     // by this Page.navigate
    int next_id_ = 1;
    std::map<int, std::string> waiting_;    // message id -> what its reply is for
    std::set<std::string> popups_;          // pages opened beside ours, to be folded in
    std::deque<std::pair<uint8_t, std::string>> texts_;
    std::string shown_url_, shown_title_;   // last reported
    std::string last_web_url_;              // the last http or https page shown
};

}  // namespace qvs

#endif
