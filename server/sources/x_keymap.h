// The X keymap as XKB sees it, for typing characters: which key makes a
// keysym under which modifiers, which key sets a modifier, and spare
// keycodes (no keysym in the keymap) bound for the moment to characters no
// key makes.
#ifndef QV_SERVER_X_KEYMAP_H
#define QV_SERVER_X_KEYMAP_H

#include <X11/XKBlib.h>
#include <X11/Xlib.h>

#include <chrono>
#include <cstdint>
#include <vector>

namespace qvs {

// The keysyms that stand for a Unicode character; none for control codes.
std::vector<KeySym> keysyms_for(uint16_t code);

class XKeymap {
public:
    XKeymap() = default;
    XKeymap(const XKeymap&) = delete;
    XKeymap& operator=(const XKeymap&) = delete;
    ~XKeymap();

    // Reads the keymap and finds the spare keycodes; false when it cannot
    // be read.
    bool start(Display* d);
    // Reads the keymap again (it changed); loaded() tells whether it could.
    void load(Display* d);
    bool loaded() const { return xkb_ != nullptr; }

    // Whether `keycode` makes one of `syms` with these modifiers.
    bool makes(unsigned keycode, const std::vector<KeySym>& syms, unsigned mods, unsigned group) const;
    // A key that sets modifier `bit`; 0 when none.
    unsigned modifier_key(int bit) const;
    // The modifier bits `keycode` sets.
    unsigned modifiers_of(unsigned keycode) const { return xkb_->map->modmap[keycode]; }
    // A key of the keymap and the modifiers that make one of `syms` in
    // `state`, with at most Shift-like modifiers (never Ctrl, Alt or Super,
    // which would make it a shortcut). False when no key does.
    bool find(const std::vector<KeySym>& syms, const XkbStateRec& state, unsigned* keycode, unsigned* mods) const;

    // Binds `sym` to a spare keycode (the one it already has, a free one,
    // or the one used longest ago); 0 when there is none.
    unsigned spare_for(Display* d, KeySym sym);
    // Gives spare keycodes their emptiness back: all, or those unused for
    // a while (programs look a key up some time after it arrived).
    void restore_spares(Display* d, bool all);

private:
    typedef std::chrono::steady_clock Clock;
    struct Spare {
        unsigned keycode;
        KeySym sym;  // NoSymbol: free
        Clock::time_point used;
    };

    XkbDescPtr xkb_ = nullptr;
    std::vector<Spare> spares_;
};

}  // namespace qvs

#endif
