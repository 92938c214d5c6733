// Sound over the stand-in device: what reaches it, what is dropped, reopening.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>

#include "link/messages.h"
#include "link/wire.h"
#include "media/audio.h"
#include "media/audio_device.h"
#include "media/audio_device_stub.h"
#include "settings/settings.h"
#include "tests/support/client_fixture.h"

namespace {

Bytes pattern(size_t n, uint8_t seed) {
    Bytes bytes(n);
    for (size_t i = 0; i < n; i++) bytes[i] = uint8_t(seed + i * 7 + (i >> 8));
    return bytes;
}
void write(const Bytes& body) { audio_write(body.data(), uint32_t(body.size())); }
// The ring indices of the pieces handed to the device, e.g. "9 10 11".
std::string queued() {
    std::string out;
    for (const AudioStubQueued& q : audio_stub.queued) out += (out.empty() ? "" : " ") + std::to_string(q.index);
    return out;
}
int allocations_left;
void* failing_allocator(size_t size) { return allocations_left-- > 0 ? std::malloc(size) : nullptr; }

class Audio : public ::testing::Test {
protected:
    void SetUp() override {
        fresh_client_state();
        audio_set_allocator(nullptr);
        audio_reset_for_tests();
        audio_stub_reset();
    }
    void TearDown() override {
        audio_set_allocator(nullptr);
        audio_open(0, 0);
        audio_reset_for_tests();
    }
};

}  // namespace

TEST_F(Audio, BodiesFillTheRingUnlessTooManyBuffersAreBusy) {
    audio_open(44100, 2);
    EXPECT_EQ(audio_stub.rate * 10 + audio_stub.channels, 441002);
    Bytes body = pattern(20000, 1);
    write(body);
    write({});
    EXPECT_EQ(queued(), "0 1 2");
    EXPECT_EQ(audio_stub.queued[1].data, Bytes(body.begin() + 8192, body.begin() + 16384));
    EXPECT_EQ(audio_stub.queued[2].data, Bytes(body.begin() + 16384, body.end()));
    for (int i = 0; i < 11; i++) audio_stub_mark_all_done(), write(pattern(100, uint8_t(i)));
    EXPECT_EQ(audio_stub.queued.back().index * 1000 + audio_next_header(), 1002);  // wrapped after 12
    EXPECT_EQ(audio_stub.queued.back().data, pattern(100, 10));
    audio_open(22050, 2);  // opening again cuts off what was queued
    write(pattern(10 * 8192, 0));
    audio_stub.queued.clear();
    write(pattern(100, 1));  // ten busy: dropped although the next (10) is free
    EXPECT_EQ(queued(), "");
    audio_open(22050, 2);
    write(pattern(9 * 8192, 0));  // nine busy, then 9, 10, 11 free, then 0 busy
    audio_stub.queued.clear();
    body = pattern(4 * 8192, 5);
    write(body);  // fills the three, loses the last piece
    EXPECT_EQ(queued(), "9 10 11");
    EXPECT_EQ(audio_stub.queued[2].data, Bytes(body.begin() + 2 * 8192, body.begin() + 3 * 8192));
    for (int i = 1; i <= 3; i++) audio_stub_mark_done(i);
    write(pattern(100, 1));  // nine busy and the next one of them: nothing
    audio_stub_mark_done(0);  // eight busy: taken
    write(pattern(100, 1));
    EXPECT_EQ(queued(), "9 10 11 0");
}

TEST_F(Audio, OpeningRules) {
    audio_open(44100, 1);
    for (int i = 0; i < AUDIO_BUFFER_COUNT; i++) EXPECT_NE(audio_stub.attached[i], nullptr);
    audio_stub.fail_open = 1;
    audio_open(8000, 2);
    EXPECT_EQ(audio_is_open() + audio_stub.open, 0);
    EXPECT_EQ(audio_current_rate() * 10 + audio_current_channels(), 441001);  // the last good format
    write(pattern(100, 0));
    EXPECT_EQ(queued(), "");
    audio_stub.fail_open = 0;
    const struct { int ljud; int32_t rate, channels; int open; } cases[] = {
        {0, 22050, 2, 0}, {1, 0, 2, 0}, {1, -44100, 2, 0}, {1, 22050, 0, 0}, {1, 22050, 1, 1}};
    for (const auto& c : cases) {
        settings.ljud = c.ljud;
        audio_open(c.rate, c.channels);
        EXPECT_EQ(audio_is_open(), c.open) << c.ljud << " " << c.rate << " " << c.channels;
    }
    allocations_left = 4;  // a buffer that cannot be had is never handed over
    audio_set_allocator(failing_allocator);
    audio_open(22050, 2);
    EXPECT_EQ(audio_is_open() + audio_stub.open + audio_stub.null_attach_count, 0);
    audio_set_allocator(nullptr);
    const struct { int32_t rate; uint8_t channels; int fail, opens; } setups[] = {
        {22050, 2, 0, 1}, {22050, 2, 0, 1}, {44100, 2, 0, 2}, {44100, 1, 0, 3}, {22050, 1, 1, 3}, {22050, 1, 0, 4}};
    int before = audio_stub.open_count;
    for (const auto& s : setups) {
        audio_stub.fail_open = s.fail;
        Bytes p = hx("00 00 80 02 e0 01 00") + Bytes{uint8_t(s.rate), uint8_t(s.rate >> 8), 0, 0, s.channels} + Bytes(33, 0);
        handle_message(MSG_STREAM_SETUP, p.data(), uint32_t(p.size()));
        EXPECT_EQ(audio_stub.open_count - before, s.opens) << s.rate;
    }
    EXPECT_EQ(audio_is_open(), 1);
    audio_close();  // for good
    audio_open(22050, 2);
    EXPECT_EQ(audio_is_open() + audio_stub.open, 0);
}

std::atomic<int> writes_done;
unsigned long keep_writing(void*) {
    Bytes body(3000, 0x42);
    for (int i = 0; i < 400; i++, writes_done++) audio_write(body.data(), uint32_t(body.size())), audio_open(i % 2 ? 22050 : 44100, 2);
    return 0;
}

TEST_F(Audio, CloseWhileTheNetworkThreadWrites) {
    audio_open(22050, 2);
    writes_done.store(0);
    uintptr_t writer = thread_start(keep_writing, nullptr);
    ASSERT_NE(writer, 0u);
    // The window thread reads the format meanwhile: under the same guard, so always a format that was opened.
    for (uint32_t start = tick_count(); writes_done.load() < 50 && tick_count() - start < 5000; sleep_ms(1)) {
        int32_t rate = audio_current_rate();
        EXPECT_TRUE(rate == 22050 || rate == 44100) << rate;
    }
    audio_close();
    size_t queued_at_close = audio_stub.queued.size();
    ASSERT_EQ(thread_join(writer, 10000), 1);
    EXPECT_EQ(audio_stub.queued.size() * 100 + audio_stub.open, queued_at_close * 100);
    EXPECT_GT(queued_at_close, 0u);
}
