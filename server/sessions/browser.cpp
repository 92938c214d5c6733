// Chromium over --remote-debugging-pipe: it reads DevTools commands from
// its descriptor 3 and writes replies and events to descriptor 4, each a
// JSON text ended by a NUL byte. Here both are one end of a socket pair.
//
//   start   Target.setDiscoverTargets -> Target.targetCreated (the page)
//           Target.attachToTarget (flatten) -> the page's session
//           Page.enable, Page.navigate home
//   events  Page.frameNavigated, navigatedWithinDocument, loadEventFired
//           -> Page.getNavigationHistory -> address and title, when changed
//   back    Page.getNavigationHistory -> Page.navigateToHistoryEntry
//
// The title is asked for rather than taken from an event: Chromium sends
// none when only a page's title changes. A slow poll catches titles that
// scripts set later.
#include "server/sessions/browser.h"

#include <errno.h>
#include <poll.h>
#include <strings.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>

#include "server/log.h"
#include "server/sessions/web_address.h"

namespace qvs {

using nlohmann::json;

namespace {

// A message larger than this is not DevTools talking to us: the link is
// dropped rather than let grow.
const size_t MESSAGE_LIMIT = 16u << 20;
const int POLL_MS = 1000;
const size_t TEXTS_KEPT = 32;
const size_t WAITING_KEPT = 64;

// Fields read without exceptions: a missing or odd field is empty.
const json& field(const json& j, const char* key) {
    static const json none;
    if (!j.is_object()) return none;
    auto it = j.find(key);
    return it == j.end() ? none : *it;
}
std::string text(const json& j, const char* key) {
    const json& f = field(j, key);
    return f.is_string() ? f.get<std::string>() : std::string();
}

}  // namespace

std::unique_ptr<Browser> Browser::start(const BrowserOptions& options, std::string* error) {
    std::unique_ptr<Browser> b(new Browser());
    b->options_ = options;
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern = std::string(tmp && tmp[0] ? tmp : "/tmp") + "/quorvane-web-XXXXXX";
    if (!::mkdtemp(&pattern[0])) {
        *error = "cannot make a browser profile folder: " + std::string(std::strerror(errno));
        return nullptr;
    }
    b->profile_ = pattern;
    // The print preview offers to save a PDF anywhere on the server's disk:
    // printing is off in the profile itself, which a page's script cannot
    // undo. The PDF viewer prints past that setting, and saves with a file
    // dialog, so PDFs are downloads instead, which are refused.
    std::error_code made;
    std::filesystem::create_directory(pattern + "/Default", made);
    std::ofstream preferences(pattern + "/Default/Preferences");
    // Pages are asked for in Swedish first, as the rest of the client speaks.
    preferences << json{{"printing", {{"enabled", false}}},
                        {"plugins", {{"always_open_pdf_externally", true}}},
                        {"intl", {{"accept_languages", "sv-SE,sv,en-US,en"}}}}.dump();
    if (made || !preferences.flush()) {
        *error = "cannot write the browser's preferences";
        return nullptr;
    }

    int ends[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0) {
        *error = "socketpair: " + std::string(std::strerror(errno));
        return nullptr;
    }
    b->pipe_ = ends[0];
    std::vector<std::string> argv = {
        "chromium", "--remote-debugging-pipe", "--user-data-dir=" + pattern,
        // A window without chrome over the whole screen, and no context
        // menu (Save as..., Print..., Inspect) on the page.
        "--kiosk", "--window-position=0,0",
        "--window-size=" + std::to_string(options.width) + "," + std::to_string(options.height),
        // Nothing asks, nothing phones home, nothing is kept.
        "--no-first-run", "--no-default-browser-check", "--noerrdialogs", "--disable-infobars",
        "--disable-session-crashed-bubble", "--disable-background-networking", "--disable-component-update",
        "--disable-sync", "--disable-features=Translate,MediaRouter", "--password-store=basic",
        "--disable-dev-shm-usage", "--lang=sv", "about:blank"};
    if (::geteuid() == 0) argv.insert(argv.end() - 1, "--no-sandbox");  // Chromium refuses root otherwise
    std::vector<std::string> env = options.environment;
    env.push_back("DISPLAY=" + options.display);
    // Its own pages (errors, dialogs) in Swedish: on Linux the language
    // comes from the environment rather than from --lang.
    env.push_back("LANGUAGE=sv:en");
    // Chromium writes beside its profile too (~/.pki, caches): all of it
    // goes into the session's folder.
    env.push_back("HOME=" + pattern);
    env.push_back("XDG_CONFIG_HOME=" + pattern);
    env.push_back("XDG_CACHE_HOME=" + pattern);
    // Chromium reads commands from descriptor 3 and writes to 4: both are
    // our socket's other end.
    bool started = b->process_.start(argv, env, {{ends[1], 3}, {ends[1], 4}}, false, error);
    ::close(ends[1]);
    if (!started) return nullptr;

    b->reader_ = std::thread(&Browser::read_loop, b.get());
    std::lock_guard<std::mutex> hold(b->lock_);
    b->send("Target.setDiscoverTargets", json{{"discover", true}}, false);
    b->pending_ = resolve_web_address(options.home, "");
    if (!b->pending_.allowed) b->pending_.url = "about:blank";
    return b;
}

Browser::~Browser() {
    process_.stop();
    if (pipe_ >= 0) ::shutdown(pipe_, SHUT_RDWR);
    if (reader_.joinable()) reader_.join();
    if (pipe_ >= 0) ::close(pipe_);
    if (!profile_.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(profile_, ignored);
    }
}

int Browser::send(const std::string& method, const json& params, bool to_page) {
    int id = next_id_++;
    json message = {{"id", id}, {"method", method}, {"params", params}};
    if (to_page) message["sessionId"] = session_;
    std::string wire = message.dump() + '\0';
    // Never waits: a Chromium that stops reading must not stall the
    // client's connection, which calls in here. It is gone or hung then;
    // ended() tells the first, and the second loses commands.
    for (size_t sent = 0; sent < wire.size();) {
        ssize_t n = ::send(pipe_, wire.data() + sent, wire.size() - sent, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        sent += size_t(n);
    }
    // Replies that never came are not waited for forever.
    while (waiting_.size() > WAITING_KEPT) waiting_.erase(waiting_.begin());
    return id;
}

void Browser::say(uint8_t slot, const std::string& line) {
    texts_.emplace_back(slot, line);
    if (texts_.size() > TEXTS_KEPT) texts_.pop_front();
}

bool Browser::next_text(uint8_t* slot, std::string* line) {
    std::lock_guard<std::mutex> hold(lock_);
    if (texts_.empty()) return false;
    *slot = texts_.front().first;
    *line = texts_.front().second;
    texts_.pop_front();
    return true;
}

std::string Browser::ended() {
    if (closed_ || !process_.running()) return "Webbläsaren har avslutats.";
    return std::string();
}

void Browser::open(const std::string& typed) {
    WebTarget target = resolve_web_address(typed, options_.search);
    std::lock_guard<std::mutex> hold(lock_);
    if (!target.allowed) {
        say(0, target.refusal);
        return;
    }
    if (session_.empty()) pending_ = target;
    else navigate(target);
}

void Browser::navigate(const WebTarget& target) {
    trying_ = target;
    trying_id_ = send("Page.navigate", json{{"url", target.url}}, true);
    waiting_[trying_id_] = "navigate";
}

void Browser::navigate(const std::string& url) {
    WebTarget target;
    target.url = url;
    navigate(target);
}

void Browser::ask_history(const std::string& purpose) {
    if (!session_.empty()) waiting_[send("Page.getNavigationHistory", json::object(), true)] = purpose;
}

void Browser::report_again() {
    std::lock_guard<std::mutex> hold(lock_);
    shown_url_.clear();
    shown_title_.clear();
    ask_history("report");
}

void Browser::step_history(int step) {
    std::lock_guard<std::mutex> hold(lock_);
    ask_history(step < 0 ? "back" : "forward");
}

void Browser::read_loop() {
    std::string buffer;
    char chunk[65536];
    while (!closed_) {
        pollfd p = {pipe_, POLLIN, 0};
        int r = ::poll(&p, 1, POLL_MS);
        if (r < 0 && errno == EINTR) continue;
        if (r == 0) {
            std::lock_guard<std::mutex> hold(lock_);
            ask_history("report");
            continue;
        }
        ssize_t n = ::recv(pipe_, chunk, sizeof chunk, 0);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        buffer.append(chunk, size_t(n));
        size_t begin = 0, end;
        while ((end = buffer.find('\0', begin)) != std::string::npos) {
            json message = json::parse(buffer.begin() + long(begin), buffer.begin() + long(end), nullptr, false);
            begin = end + 1;
            if (message.is_object()) {
                std::lock_guard<std::mutex> hold(lock_);
                on_message(message);
            }
        }
        buffer.erase(0, begin);
        if (buffer.size() > MESSAGE_LIMIT) {
            log_line("browser: a DevTools message beyond %zu bytes; the link to Chromium is dropped", MESSAGE_LIMIT);
            break;
        }
    }
    closed_ = true;
}

void Browser::on_message(const json& message) {
    const json& id = field(message, "id");
    if (id.is_number_integer()) {
        auto it = waiting_.find(id.get<int>());
        if (it == waiting_.end()) return;
        std::string purpose = it->second;
        waiting_.erase(it);
        on_reply(purpose, message);
        return;
    }
    std::string method = text(message, "method");
    const json& params = field(message, "params");
    const json& info = field(params, "targetInfo");
    if (method == "Target.targetCreated" && text(info, "type") == "page") {
        if (target_.empty()) {
            target_ = text(info, "targetId");
            waiting_[send("Target.attachToTarget", json{{"targetId", target_}, {"flatten", true}}, false)] = "attach";
        } else {
            // A page opened by a link or script (target="_blank", window.open):
            // the client sees one page, so it opens in that one instead.
            popups_.insert(text(info, "targetId"));
        }
        return;
    }
    if (method == "Target.targetInfoChanged" && popups_.count(text(info, "targetId"))) {
        std::string url = text(info, "url");
        if (url.empty() || url == "about:blank") return;
        popups_.erase(text(info, "targetId"));
        send("Target.closeTarget", json{{"targetId", text(info, "targetId")}}, false);
        WebTarget target = resolve_web_address(url, "");
        if (target.allowed) navigate(target.url);
        return;
    }
    if (method == "Browser.downloadWillBegin") {
        std::string name = text(params, "suggestedFilename");
        if (name.size() > 60) name = name.substr(0, 60);
        bool pdf = name.size() >= 4 && strcasecmp(name.c_str() + name.size() - 4, ".pdf") == 0;
        say(0, pdf ? "PDF-filer visas inte här, och servern hämtar inga filer (" + name + "). Sidan står kvar."
                   : "Servern hämtar inga filer (" + name + "). Sidan står kvar.");
        return;
    }
    if (method == "Target.targetDestroyed") {
        popups_.erase(text(params, "targetId"));
        return;
    }
    if (text(message, "sessionId") != session_ || session_.empty()) return;
    if (method == "Page.fileChooserOpened") {
        say(0, "Filval fungerar inte här: servern visar inte sina filer.");
        return;
    }
    bool main_frame = method != "Page.frameNavigated" || field(field(params, "frame"), "parentId").is_null();
    if (main_frame && method == "Page.frameNavigated" && !guard(text(field(params, "frame"), "url"))) return;
    if (main_frame && (method == "Page.frameNavigated" || method == "Page.navigatedWithinDocument" ||
                       method == "Page.domContentEventFired" || method == "Page.loadEventFired"))
        ask_history("report");
}

bool Browser::guard(const std::string& url) {
    // Typed addresses are checked before they are opened; this catches the
    // rest (a browser shortcut, a script): a page that is not on the web is
    // left at once for the last one that was.
    bool web = url.compare(0, 7, "http://") == 0 || url.compare(0, 8, "https://") == 0;
    if (web || url == "about:blank" || url.compare(0, 15, "chrome-error://") == 0) {
        if (web) last_web_url_ = url;
        return true;
    }
    log_line("browser: left a page outside the web");
    say(0, "Bara http- och https-sidor visas här.");
    navigate(last_web_url_.empty() ? std::string("about:blank") : last_web_url_);
    return false;
}

void Browser::on_reply(const std::string& purpose, const json& message) {
    const json& result = field(message, "result");
    const json& problem = field(message, "error");
    if (!problem.is_null()) {
        // A report asked for while a page is being replaced may find none;
        // the next one comes within a second.
        if (purpose != "report") log_line("browser: %s failed: %s", purpose.c_str(), text(problem, "message").c_str());
        return;
    }
    if (purpose == "attach") {
        session_ = text(result, "sessionId");
        send("Page.enable", json::object(), true);
        // The server's files stay out of reach: no file chooser and no
        // download reaches its disk.
        send("Page.setInterceptFileChooserDialog", json{{"enabled", true}}, true);
        send("Browser.setDownloadBehavior", json{{"behavior", "deny"}, {"eventsEnabled", true}}, false);
        if (!pending_.url.empty()) navigate(pending_);
        pending_ = WebTarget();
        return;
    }
    if (purpose == "navigate") {
        // Aborted: another page or a download took its place.
        std::string failure = text(result, "errorText");
        if (failure.empty() || failure == "net::ERR_ABORTED") return;
        bool no_host = failure == "net::ERR_NAME_NOT_RESOLVED";
        bool latest = field(message, "id").get<int>() == trying_id_;
        bool second_reading = (trying_.fallback == Fallback::WHEN_CONNECTION_FAILS && !no_host) ||
                              (trying_.fallback == Fallback::WHEN_NO_SUCH_HOST && no_host);
        if (latest && second_reading) {
            navigate(trying_.fallback_url);
            return;
        }
        say(0, "Sidan kunde inte öppnas (" + failure + ").");
        return;
    }
    const json& entries = field(result, "entries");
    const json& index = field(result, "currentIndex");
    if (!entries.is_array() || !index.is_number_integer()) return;
    long current = index.get<long>();
    if (purpose == "report") {
        if (current < 0 || current >= long(entries.size())) return;
        std::string url = text(entries[size_t(current)], "url");
        std::string title = text(entries[size_t(current)], "title");
        if (title.empty()) title = url;
        if (url != shown_url_) say(1, shown_url_ = url);
        if (title != shown_title_) say(3, shown_title_ = title);
        return;
    }
    long wanted = current + (purpose == "back" ? -1 : 1);
    const json& entry = wanted >= 0 && wanted < long(entries.size()) ? entries[size_t(wanted)] : json();
    const json& entry_id = field(entry, "id");
    // The blank page the browser starts on is not one to go back to.
    if (!entry_id.is_number_integer() || text(entry, "url") == "about:blank") {
        say(0, purpose == "back" ? "Det finns ingen sida att gå tillbaka till." : "Det finns ingen sida att gå fram till.");
        return;
    }
    send("Page.navigateToHistoryEntry", json{{"entryId", entry_id.get<int>()}}, true);
}

}  // namespace qvs
