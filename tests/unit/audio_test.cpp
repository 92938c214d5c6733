// Sound over the stand-in device: what reaches it, in which buffers, what
// is dropped, and when it is opened again.
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
std::vector<int> indices() {
    std::vector<int> out;
    for (const AudioStubQueued& q : audio_stub.queued) out.push_back(q.index);
    return out;
}
void stream_setup(int32_t rate, uint8_t channels) {
    Bytes p(STREAM_SETUP_MIN, 0);
    put_u16le(&p[2], 640);
    put_u16le(&p[4], 480);
    put_u32le(&p[7], uint32_t(rate));
    p[11] = channels;
    handle_message(MSG_STREAM_SETUP, p.data(), uint32_t(p.size()));
}
int allocations_left;
void* failing_allocator(size_t size) { return allocations_left-- > 0 ? std::malloc(size) : nullptr; }

class Audio : public ::testing::Test {
protected:
    void SetUp() override {
        fresh_client_state();
        settings_reset_defaults();
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

TEST_F(Audio, BodiesAreCutIntoConsecutiveBuffersOfTheRing) {
    audio_open(44100, 2);
    EXPECT_EQ(audio_stub.rate * 10 + audio_stub.channels, 441002);
    for (int i = 0; i < AUDIO_BUFFER_COUNT; i++) EXPECT_NE(audio_stub.attached[i], nullptr);
    Bytes body = pattern(20000, 1);
    write(body);
    write({});
    ASSERT_EQ(indices(), (std::vector<int>{0, 1, 2}));
    EXPECT_EQ(audio_stub.queued[1].data, Bytes(body.begin() + 8192, body.begin() + 16384));
    EXPECT_EQ(audio_stub.queued[2].data, Bytes(body.begin() + 16384, body.end()));
    for (int i = 0; i < 11; i++) {
        audio_stub_mark_all_done();
        write(pattern(100, uint8_t(i)));
    }
    EXPECT_EQ(audio_stub.queued.back().index, 1);  // wrapped around after 12
    EXPECT_EQ(audio_stub.queued.back().data, pattern(100, 10));
    EXPECT_EQ(audio_next_header(), 2);
}

TEST_F(Audio, BusyBuffersDropOrCutBodies) {
    audio_open(22050, 2);
    write(pattern(10 * 8192, 0));  // ten busy: dropped although the next (10) is free
    audio_stub.queued.clear();
    write(pattern(100, 1));
    EXPECT_EQ(audio_stub.queued.size(), 0u);
    audio_open(22050, 2);
    write(pattern(9 * 8192, 0));  // nine busy, then 9, 10, 11 free, then 0 busy
    audio_stub.queued.clear();
    Bytes body = pattern(4 * 8192, 5);
    write(body);  // fills the three, loses the last piece
    EXPECT_EQ(indices(), (std::vector<int>{9, 10, 11}));
    EXPECT_EQ(audio_stub.queued[2].data, Bytes(body.begin() + 2 * 8192, body.begin() + 3 * 8192));
    for (int i = 1; i <= 3; i++) audio_stub_mark_done(i);
    write(pattern(100, 1));  // nine busy and the next one of them: nothing
    EXPECT_EQ(audio_stub.queued.size(), 3u);
    EXPECT_EQ(audio_next_header(), 0);
    audio_stub_mark_done(0);  // eight busy: taken
    write(pattern(100, 1));
    EXPECT_EQ(audio_stub.queued.size(), 4u);
}

TEST_F(Audio, OpeningRules) {
    audio_open(22050, 2);
    write(pattern(3 * 8192, 0));
    audio_open(44100, 1);  // cuts off what was queued
    EXPECT_EQ(audio_stub.open_count, 2);
    EXPECT_EQ(audio_next_header(), 0);
    for (int i = 0; i < AUDIO_BUFFER_COUNT; i++) EXPECT_EQ(audio_stub.busy[i], 0);
    audio_stub.fail_open = 1;
    audio_open(8000, 2);
    EXPECT_EQ(audio_is_open() + audio_stub.open, 0);
    EXPECT_EQ(audio_current_rate() * 10 + audio_current_channels(), 441001);  // the last good format
    write(pattern(100, 0));
    EXPECT_EQ(audio_stub.queued.size(), 3u);
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
    audio_open(22050, 2);
    EXPECT_EQ(audio_is_open(), 1);
    audio_close();  // for good
    audio_open(22050, 2);
    write(pattern(100, 0));
    EXPECT_EQ(audio_is_open() + audio_stub.open, 0);
}

TEST_F(Audio, StreamSetupReopensOnlyOnANewFormatOrAfterAFailure) {
    stream_setup(22050, 2);
    write(pattern(8192, 0));
    stream_setup(22050, 2);  // the queued sound plays on
    EXPECT_EQ(audio_stub.open_count * 10 + audio_stub.busy[0], 11);
    stream_setup(44100, 2);
    stream_setup(44100, 1);
    EXPECT_EQ(audio_stub.open_count * 10 + audio_stub.channels, 31);
    audio_stub.fail_open = 1;
    stream_setup(22050, 1);
    audio_stub.fail_open = 0;
    stream_setup(22050, 1);
    EXPECT_EQ(audio_stub.open_count * 10 + audio_is_open(), 41);
    stream_setup(0, 1);
    EXPECT_EQ(audio_is_open(), 0);
}

// The network thread writing and re-opening while the window thread closes:
// nothing is queued once audio_close has returned.
std::atomic<int> writes_done;
unsigned long keep_writing(void*) {
    Bytes body(3000, 0x42);
    for (int i = 0; i < 400; i++, writes_done++) {
        audio_write(body.data(), uint32_t(body.size()));
        audio_open(i % 2 ? 22050 : 44100, 2);
    }
    return 0;
}

TEST_F(Audio, CloseWhileTheNetworkThreadWrites) {
    audio_open(22050, 2);
    writes_done.store(0);
    uintptr_t writer = thread_start(keep_writing, nullptr);
    ASSERT_NE(writer, 0u);
    for (uint32_t start = tick_count(); writes_done.load() < 50 && tick_count() - start < 5000;) sleep_ms(1);
    audio_close();
    size_t queued_at_close = audio_stub.queued.size();
    ASSERT_EQ(thread_join(writer, 10000), 1);
    EXPECT_EQ(audio_stub.queued.size(), queued_at_close);
    EXPECT_GT(queued_at_close, 0u);
    EXPECT_EQ(audio_stub.open, 0);
}
