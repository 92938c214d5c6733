// A virtual gamepad through the kernel's uinput device, driven by the
// client's Gamepad messages. Made on the first message; where /dev/uinput
// cannot be opened, the first message logs one line and the rest are
// ignored.
#ifndef QV_SERVER_UINPUT_PAD_H
#define QV_SERVER_UINPUT_PAD_H

#include <cstdint>

namespace qvs {

class UinputPad {
public:
    UinputPad() = default;
    ~UinputPad();
    UinputPad(const UinputPad&) = delete;
    UinputPad& operator=(const UinputPad&) = delete;

    // One Gamepad payload (18 bytes: six s16 axes, u32 buttons, u16 hat).
    void update(const uint8_t* payload);
    // Centres the axes and the hat and lets every button go.
    void neutral();

private:
    bool open_device();
    void emit(int type, int code, int value);
    void apply(const int16_t* axes, uint32_t buttons, uint16_t hat);

    int fd_ = -1;
    bool tried_ = false;
    int16_t axes_[6] = {0, 0, 0, 0, 0, 0};
    uint32_t buttons_ = 0;
    int hat_x_ = 0, hat_y_ = 0;
};

}  // namespace qvs

#endif
