// The joystick check and poll with a stand-in joystick, checked as the
// Gamepad messages a server receives on a real socket.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "core/client_state.h"
#include "input/input.h"
#include "input/joystick_stub.h"
#include "link/wire.h"
#include "settings/settings.h"
#include "tests/support/client_fixture.h"
#include "tests/support/loopback.h"

namespace {

// Gamepad payload: six s16 axes, u32 buttons, u16 hat.
SentMessage gamepad(std::vector<int16_t> axes, uint32_t buttons, uint16_t hat) {
    SentMessage m;
    m.type = MSG_GAMEPAD;
    for (int16_t a : axes) {
        m.payload.push_back(static_cast<uint8_t>(a));
        m.payload.push_back(static_cast<uint8_t>(static_cast<uint16_t>(a) >> 8));
    }
    for (int i = 0; i < 4; i++) m.payload.push_back(static_cast<uint8_t>(buttons >> (8 * i)));
    m.payload.push_back(static_cast<uint8_t>(hat));
    m.payload.push_back(static_cast<uint8_t>(hat >> 8));
    return m;
}

const std::vector<int16_t> CENTRED = {0, 0, 0, 0, 0, 0};

class Joystick : public ::testing::Test {
protected:
    void SetUp() override {
        fresh_client_state();
        settings_reset_defaults();
        joystick_stub_reset();
        ASSERT_TRUE(server.open());
        state.stream_mode.store(1);
    }
    void TearDown() override {
        server.close();
        settings_reset_defaults();
        client_state_reset();
    }
    std::vector<SentMessage> sent() {
        Loopback::send_marker();
        return server.until_marker();
    }
    Loopback server;
};

TEST_F(Joystick, OnlyChangesAreSent) {
    joystick_startup_check();
    poll_joystick();  // the first reading differs from the zeroed record
    poll_joystick();
    poll_joystick();
    EXPECT_EQ(joystick_stub.last_request.dwSize, 52u);
    EXPECT_EQ(joystick_stub.last_request.dwFlags, 0xFFu);
    EXPECT_EQ(joystick_stub.read_calls, 3);

    joystick_stub.position.dwPOV = 9000;        // hat pushed right
    poll_joystick();
    joystick_stub.position.dwXpos = 0;
    joystick_stub.position.dwYpos = 65535;
    joystick_stub.position.dwButtons = 0x80000005;
    poll_joystick();
    poll_joystick();
    EXPECT_EQ(sent(), (std::vector<SentMessage>{
                          gamepad(CENTRED, 0, 0xFFFF), gamepad(CENTRED, 0, 9000),
                          gamepad({-32768, 32767, 0, 0, 0, 0}, 0x80000005, 9000)}));
}

TEST_F(Joystick, HatValuesBeyondAFullCircleMeanCentred) {
    joystick_startup_check();
    const uint32_t hats[] = {0, 36000, 36001, 65535, 0xFFFFFFFF, 27000};
    for (uint32_t hat : hats) {
        joystick_stub.position.dwPOV = hat;
        poll_joystick();
    }
    EXPECT_EQ(sent(), (std::vector<SentMessage>{gamepad(CENTRED, 0, 0), gamepad(CENTRED, 0, 36000),
                                                gamepad(CENTRED, 0, 0xFFFF), gamepad(CENTRED, 0, 0xFFFF),
                                                gamepad(CENTRED, 0, 0xFFFF), gamepad(CENTRED, 0, 27000)}));
}

TEST_F(Joystick, ButtonNumberCountsButReservedWordsDoNot) {
    joystick_startup_check();
    poll_joystick();
    joystick_stub.position.dwReserved1 = 7;
    joystick_stub.position.dwReserved2 = 9;
    poll_joystick();  // nothing
    joystick_stub.position.dwButtonNumber = 1;
    poll_joystick();  // changed, though the message looks the same
    joystick_stub.position.dwZpos = 32767;
    joystick_stub.position.dwVpos = 100000;  // beyond 16 bits: low 16 bits of position - 32768
    poll_joystick();
    EXPECT_EQ(sent(), (std::vector<SentMessage>{
                          gamepad(CENTRED, 0, 0xFFFF), gamepad(CENTRED, 0, 0xFFFF),
                          gamepad({0, 0, -1, 0, 0, static_cast<int16_t>((100000 - 32768) & 0xFFFF)}, 0,
                                  0xFFFF)}));
}

TEST_F(Joystick, AFailedReadSwitchesItOffForGood) {
    joystick_startup_check();
    poll_joystick();
    joystick_stub.read_ok = 0;  // unplugged
    poll_joystick();
    joystick_stub.read_ok = 1;  // plugged back in
    joystick_stub.position.dwButtons = 1;
    poll_joystick();
    poll_joystick();
    EXPECT_EQ(joystick_stub.read_calls, 2);
    EXPECT_EQ(sent(), (std::vector<SentMessage>{gamepad(CENTRED, 0, 0xFFFF)}));
}

TEST_F(Joystick, PolledOnlyWhileStreamingConnectedAndWanted) {
    joystick_startup_check();
    state.stream_mode.store(0);
    poll_joystick();
    state.stream_mode.store(2);
    poll_joystick();
    state.stream_mode.store(1);
    state.connected.store(0);
    poll_joystick();
    state.connected.store(1);
    settings.joystick = 0;
    poll_joystick();
    EXPECT_EQ(joystick_stub.read_calls, 0);
    settings.joystick = 1;
    poll_joystick();
    EXPECT_EQ(joystick_stub.read_calls, 1);
    EXPECT_EQ(sent(), (std::vector<SentMessage>{gamepad(CENTRED, 0, 0xFFFF)}));
}

TEST_F(Joystick, TheLastStateSentOutlivesAReconnection) {
    joystick_startup_check();
    poll_joystick();
    EXPECT_EQ(sent().size(), 1u);
    // The link drops and comes back; the joystick has not moved.
    server.close();
    ASSERT_TRUE(server.open());
    state.stream_mode.store(1);
    poll_joystick();
    joystick_stub.position.dwButtons = 2;
    poll_joystick();
    EXPECT_EQ(sent(), (std::vector<SentMessage>{gamepad(CENTRED, 2, 0xFFFF)}));
}

TEST_F(Joystick, StartupCheckAsksInOrderAndStopsAtTheFirstNo) {
    settings.joystick = 0;
    joystick_startup_check();
    EXPECT_EQ(joystick_stub.count_calls + joystick_stub.caps_calls, 0);
    settings.joystick = 1;
    poll_joystick();
    EXPECT_EQ(joystick_stub.read_calls, 0);  // the setting was off at start-up

    joystick_stub.device_count = 0;
    joystick_startup_check();
    EXPECT_EQ(joystick_stub.count_calls, 1);
    EXPECT_EQ(joystick_stub.caps_calls, 0);
    poll_joystick();
    EXPECT_EQ(joystick_stub.read_calls, 0);

    joystick_stub.device_count = 1;
    joystick_stub.has_caps = 0;
    joystick_startup_check();
    EXPECT_EQ(joystick_stub.caps_calls, 1);
    poll_joystick();
    EXPECT_EQ(joystick_stub.read_calls, 0);

    joystick_stub.has_caps = 1;
    joystick_startup_check();
    poll_joystick();
    EXPECT_EQ(joystick_stub.read_calls, 1);
    EXPECT_EQ(sent(), (std::vector<SentMessage>{gamepad(CENTRED, 0, 0xFFFF)}));
}

TEST_F(Joystick, StartupCheckForgetsTheLastStateSent) {
    joystick_startup_check();
    poll_joystick();
    joystick_startup_check();
    poll_joystick();  // compared with a zeroed record again: sent
    EXPECT_EQ(sent().size(), 2u);
}

}  // namespace
