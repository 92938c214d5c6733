#include "server/sources/x_keymap.h"

#include <X11/keysym.h>

namespace qvs {

namespace {

// A spare keycode gives its character back this long after its last use.
const std::chrono::seconds SPARE_KEEP(2);

bool among(KeySym sym, const std::vector<KeySym>& syms) {
    for (KeySym s : syms)
        if (s == sym) return true;
    return false;
}

}  // namespace

// Latin-1 is its own keysym, the rest are 0x1000000 + code, and the euro
// sign also has its old keysym, which keymaps use.
std::vector<KeySym> keysyms_for(uint16_t code) {
    if ((code >= 0x20 && code < 0x7F) || code >= 0xA0) {
        if (code < 0x100) return {KeySym(code)};
        if (code == 0x20AC) return {XK_EuroSign, KeySym(0x1000000 | code)};
        return {KeySym(0x1000000 | code)};
    }
    return {};
}

XKeymap::~XKeymap() {
    if (xkb_) XkbFreeKeyboard(xkb_, XkbAllComponentsMask, True);
}

bool XKeymap::start(Display* d) {
    load(d);
    if (!xkb_) return false;
    for (unsigned kc = xkb_->min_key_code; kc <= xkb_->max_key_code; kc++)
        if (XkbKeyNumSyms(xkb_, kc) == 0 && xkb_->map->modmap[kc] == 0) spares_.push_back({kc, NoSymbol, Clock::now()});
    return true;
}

void XKeymap::load(Display* d) {
    if (xkb_) XkbFreeKeyboard(xkb_, XkbAllComponentsMask, True);
    xkb_ = XkbGetMap(d, XkbKeyTypesMask | XkbKeySymsMask | XkbModifierMapMask, XkbUseCoreKbd);
}

bool XKeymap::makes(unsigned keycode, const std::vector<KeySym>& syms, unsigned mods, unsigned group) const {
    unsigned consumed = 0;
    KeySym sym = NoSymbol;
    return XkbTranslateKeyCode(xkb_, KeyCode(keycode), XkbBuildCoreState(mods, group), &consumed, &sym) &&
           among(sym, syms);
}

unsigned XKeymap::modifier_key(int bit) const {
    for (unsigned kc = xkb_->min_key_code; kc <= xkb_->max_key_code; kc++)
        if ((xkb_->map->modmap[kc] & (1u << bit)) && XkbKeyNumSyms(xkb_, kc) > 0) return kc;
    return 0;
}

bool XKeymap::find(const std::vector<KeySym>& syms, const XkbStateRec& state, unsigned* keycode,
                   unsigned* found_mods) const {
    const unsigned forbidden = ControlMask | Mod1Mask | Mod4Mask;
    for (unsigned kc = xkb_->min_key_code; kc <= xkb_->max_key_code; kc++) {
        int groups = XkbKeyNumGroups(xkb_, kc);
        if (groups == 0) continue;
        unsigned group = state.group < groups ? state.group : 0;
        XkbKeyTypePtr type = XkbKeyKeyType(xkb_, kc, group);
        for (int level = 0; level < XkbKeyGroupWidth(xkb_, kc, group); level++) {
            if (!among(XkbKeySymEntry(xkb_, kc, level, group), syms)) continue;
            std::vector<unsigned> masks;
            if (level == 0) masks.push_back(0);
            for (int e = 0; e < type->map_count; e++)
                if (type->map[e].active && type->map[e].level == level) masks.push_back(type->map[e].mods.mask);
            for (unsigned mods : masks) {
                if ((mods & forbidden) || !makes(kc, syms, mods | state.locked_mods, state.group)) continue;
                *keycode = kc;
                *found_mods = mods;
                return true;
            }
        }
    }
    return false;
}

unsigned XKeymap::spare_for(Display* d, KeySym sym) {
    if (spares_.empty()) return 0;
    Spare* pick = &spares_[0];
    for (Spare& s : spares_) {
        if (s.sym == sym) {
            s.used = Clock::now();
            return s.keycode;
        }
        if (pick->sym != NoSymbol && (s.sym == NoSymbol || s.used < pick->used)) pick = &s;
    }
    KeySym both[2] = {sym, sym};  // the same on every level, whatever Shift does
    XChangeKeyboardMapping(d, int(pick->keycode), 2, both, 1);
    pick->sym = sym;
    pick->used = Clock::now();
    return pick->keycode;
}

void XKeymap::restore_spares(Display* d, bool all) {
    Clock::time_point old = Clock::now() - SPARE_KEEP;
    for (Spare& s : spares_) {
        if (s.sym == NoSymbol || (!all && s.used > old)) continue;
        KeySym none = NoSymbol;
        XChangeKeyboardMapping(d, int(s.keycode), 1, &none, 1);
        s.sym = NoSymbol;
    }
}

}  // namespace qvs
