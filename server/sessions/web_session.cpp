// A web entry's session: the client's private X server with its window
// manager, and Chromium on it. The source adds to what a program's source
// does the WebAddress, Alt+Left / Alt+Right through the browser's history,
// and the address and title of each page.
#include "server/sessions/web_session.h"

#include "link/wire.h"
#include "server/sessions/browser.h"
#include "server/sessions/display_session.h"
#include "server/log.h"

namespace qvs {

namespace {

// Windows virtual-key codes in the Key message.
const uint8_t VK_SHIFT_KEY = 0x10, VK_CTRL = 0x11, VK_ALT = 0x12, VK_LEFT_ARROW = 0x25, VK_RIGHT_ARROW = 0x27,
              VK_F12_KEY = 0x7B;

// Browser shortcuts that would show the server's own files (Ctrl+O opens a
// file dialog on its disk, Ctrl+S and Ctrl+P save to it) or its developer
// tools: they never reach Chromium.
bool server_shortcut(uint8_t vk, bool ctrl, bool shift) {
    if (vk == VK_F12_KEY) return true;
    if (ctrl && (vk == 'O' || vk == 'S' || vk == 'P')) return true;
    return ctrl && shift && (vk == 'I' || vk == 'J' || vk == 'C');
}

class WebSession : public DisplaySession, public std::enable_shared_from_this<WebSession> {
public:
    bool start(const AppEntry& entry, const StreamFormat& format, const std::vector<std::string>& environment,
               std::string* error) {
        if (!start_display(entry, format, environment, error)) return false;
        BrowserOptions options;
        options.display = display_.name();
        options.width = format.width;
        options.height = format.height;
        options.home = entry.home;
        options.search = entry.search;
        options.environment = environment;
        options.environment.push_back(display_.authority());
        std::string why;
        browser_ = Browser::start(options, &why);
        if (!browser_) return fail(why, "Kunde inte starta webbläsaren.", error);
        log_line("\"%s\": Chromium on %s (%dx%d)", name_.c_str(), display_.name().c_str(), format.width,
                 format.height);
        return true;
    }

    std::unique_ptr<Source> watch(const StreamFormat& format, std::string* error) override;

    std::string ended() override {
        std::string gone = browser_->ended();
        return gone.empty() ? display_gone() : gone;
    }

    Browser& browser() { return *browser_; }

private:
    std::unique_ptr<Browser> browser_;  // ends before its display
};

class WebSource : public Source {
public:
    WebSource(std::unique_ptr<XSource> screen, std::shared_ptr<WebSession> session)
        : screen_(std::move(screen)), session_(std::move(session)) {}

    bool grab(std::vector<uint16_t>& out, int width, int height, bool force) override {
        return screen_->grab(out, width, height, force);
    }
    int wake_fd() override { return screen_->wake_fd(); }
    void drain_wake() override { screen_->drain_wake(); }
    void release_input() override {
        alt_down_ = ctrl_down_ = shift_down_ = false;
        screen_->release_input();
    }
    size_t read_audio(int16_t* out, size_t max_frames) override { return screen_->read_audio(out, max_frames); }
    bool next_text(uint8_t* slot, std::string* text) override { return session_->browser().next_text(slot, text); }
    std::string ended() override { return screen_->ended(); }

    void input(uint8_t type, const uint8_t* payload, uint32_t length) override {
        if (type == MSG_WEB_ADDRESS) {
            // A zero byte, then the typed text.
            if (length >= 1)
                session_->browser().open(std::string(reinterpret_cast<const char*>(payload) + 1, length - 1));
            return;
        }
        if (type == MSG_KEY && length >= 4) {
            uint8_t vk = payload[0];
            bool down = payload[3] != 0;
            if (vk == VK_ALT) alt_down_ = down;
            if (vk == VK_CTRL) ctrl_down_ = down;
            if (vk == VK_SHIFT_KEY) shift_down_ = down;
            if (server_shortcut(vk, ctrl_down_, shift_down_)) return;
            // Alt+Left and Alt+Right walk the history; the arrow itself does
            // not reach the page.
            if (alt_down_ && (vk == VK_LEFT_ARROW || vk == VK_RIGHT_ARROW)) {
                if (down && vk == VK_LEFT_ARROW) session_->browser().back();
                if (down && vk == VK_RIGHT_ARROW) session_->browser().forward();
                return;
            }
        }
        // The control characters Ctrl+O, Ctrl+P and Ctrl+S type.
        if (type == MSG_CHAR && length >= 2 && ctrl_down_ && (payload[0] == 0x0F || payload[0] == 0x10 ||
                                                              payload[0] == 0x13) && payload[1] == 0)
            return;
        screen_->input(type, payload, length);
    }

private:
    std::unique_ptr<XSource> screen_;
    std::shared_ptr<WebSession> session_;
    bool alt_down_ = false, ctrl_down_ = false, shift_down_ = false;
};

std::unique_ptr<Source> WebSession::watch(const StreamFormat& format, std::string* error) {
    std::shared_ptr<WebSession> self = shared_from_this();
    std::unique_ptr<XSource> screen = open_screen(format, self, error);
    if (!screen) return nullptr;
    browser_->report_again();
    return std::unique_ptr<Source>(new WebSource(std::move(screen), self));
}

}  // namespace

std::shared_ptr<AppSession> start_web_session(const AppEntry& entry, const StreamFormat& format,
                                              const std::vector<std::string>& environment, std::string* error) {
    auto session = std::make_shared<WebSession>();
    if (!session->start(entry, format, environment, error)) return nullptr;
    return session;
}

}  // namespace qvs
