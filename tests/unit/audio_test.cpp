// Audio output over the stand-in device: what reaches the device, in which
// buffers, and what is dropped.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <vector>

#include "core/sys.h"
#include "link/messages.h"
#include "link/wire.h"
#include "media/audio.h"
#include "media/audio_device.h"
#include "media/audio_device_stub.h"
#include "settings/settings.h"
#include "tests/support/client_fixture.h"

namespace {

class Audio : public ::testing::Test {
protected:
    void SetUp() override {
        settings_reset_defaults();
        settings.ljud = 1;
        audio_set_allocator(nullptr);
        audio_reset_for_tests();
        audio_stub_reset();
    }
    void TearDown() override {
        audio_set_allocator(nullptr);
        audio_reset_for_tests();
    }
    static std::vector<uint8_t> pattern(size_t n, uint8_t seed) {
        std::vector<uint8_t> bytes(n);
        for (size_t i = 0; i < n; i++) bytes[i] = uint8_t(seed + i * 7 + (i >> 8));
        return bytes;
    }
    static void write(const std::vector<uint8_t>& body) {
        audio_write(body.data(), uint32_t(body.size()));
    }
    static int queued_bytes() {
        int total = 0;
        for (const AudioStubQueued& q : audio_stub.queued) total += int(q.data.size());
        return total;
    }
};

TEST_F(Audio, OpensTheDeviceForTheAnnouncedFormat) {
    audio_open(22050, 2);
    EXPECT_EQ(1, audio_is_open());
    EXPECT_EQ(22050, audio_stub.rate);
    EXPECT_EQ(2, audio_stub.channels);
    EXPECT_EQ(22050, audio_current_rate());
    EXPECT_EQ(2, audio_current_channels());
    for (int i = 0; i < AUDIO_BUFFER_COUNT; i++) {
        EXPECT_NE(nullptr, audio_stub.attached[i]);
        EXPECT_EQ(0, audio_stub.busy[i]);  // every buffer starts free
    }
}

TEST_F(Audio, BodyIsCutIntoPiecesOfConsecutiveBuffers) {
    audio_open(44100, 2);
    std::vector<uint8_t> body = pattern(20000, 1);
    write(body);
    ASSERT_EQ(3u, audio_stub.queued.size());
    const size_t sizes[3] = {8192, 8192, 3616};
    size_t offset = 0;
    for (int i = 0; i < 3; i++) {
        EXPECT_EQ(i, audio_stub.queued[i].index);
        std::vector<uint8_t> piece(body.begin() + offset, body.begin() + offset + sizes[i]);
        EXPECT_EQ(piece, audio_stub.queued[i].data) << "piece " << i;
        offset += sizes[i];
    }
    EXPECT_EQ(3, audio_next_header());

    write({});  // an empty body changes nothing
    EXPECT_EQ(3u, audio_stub.queued.size());
    EXPECT_EQ(3, audio_next_header());
}

TEST_F(Audio, TheRingWrapsAroundAfterTwelveBuffers) {
    audio_open(22050, 1);
    for (int i = 0; i < 14; i++) {
        write(pattern(100, uint8_t(i)));
        audio_stub_mark_all_done();
    }
    ASSERT_EQ(14u, audio_stub.queued.size());
    EXPECT_EQ(11, audio_stub.queued[11].index);
    EXPECT_EQ(0, audio_stub.queued[12].index);
    EXPECT_EQ(1, audio_stub.queued[13].index);
    EXPECT_EQ(pattern(100, 13), audio_stub.queued[13].data);
    EXPECT_EQ(2, audio_next_header());
}

TEST_F(Audio, MoreThanNineBusyDropsTheWholeBody) {
    audio_open(22050, 2);
    // Ten buffers busy (0..9), the two that come next (10, 11) free: dropped.
    write(pattern(10 * 8192, 0));
    audio_stub.queued.clear();
    for (int i = 0; i < 10; i++) audio_stub_mark_busy(i);
    EXPECT_EQ(10, audio_next_header());
    write(pattern(100, 9));
    EXPECT_EQ(0u, audio_stub.queued.size());
    EXPECT_EQ(10, audio_next_header());

    // Nine busy: taken.
    audio_stub_mark_done(0);
    write(pattern(100, 9));
    ASSERT_EQ(1u, audio_stub.queued.size());
    EXPECT_EQ(10, audio_stub.queued[0].index);
}

TEST_F(Audio, BodyStopsAtTheFirstBusyBuffer) {
    audio_open(22050, 2);
    // Nine busy, three free that come next in the ring (9, 10, 11), then 0
    // busy: a body of 4 x 8192 fills the three and loses its last piece.
    write(pattern(9 * 8192, 0));
    audio_stub.queued.clear();
    std::vector<uint8_t> body = pattern(4 * 8192, 5);
    write(body);
    ASSERT_EQ(3u, audio_stub.queued.size());
    EXPECT_EQ(9, audio_stub.queued[0].index);
    EXPECT_EQ(11, audio_stub.queued[2].index);
    EXPECT_EQ(std::vector<uint8_t>(body.begin() + 2 * 8192, body.begin() + 3 * 8192),
              audio_stub.queued[2].data);
    EXPECT_EQ(0, audio_next_header());

    // Nine busy again but the next buffer (0) is one of them: nothing goes.
    for (int i = 1; i <= 3; i++) audio_stub_mark_done(i);
    audio_stub.queued.clear();
    write(pattern(100, 1));
    EXPECT_EQ(0u, audio_stub.queued.size());
    EXPECT_EQ(0, audio_next_header());
}

TEST_F(Audio, ReopeningCutsOffQueuedSoundAndTakesTheNewFormat) {
    audio_open(22050, 2);
    write(pattern(3 * 8192, 0));
    audio_open(44100, 2);
    EXPECT_EQ(2, audio_stub.open_count);
    EXPECT_EQ(44100, audio_stub.rate);
    EXPECT_EQ(44100, audio_current_rate());
    EXPECT_EQ(0, audio_next_header());
    for (int i = 0; i < AUDIO_BUFFER_COUNT; i++) EXPECT_EQ(0, audio_stub.busy[i]);
}

TEST_F(Audio, FailedOpenKeepsTheLastFormatAndIgnoresBodies) {
    audio_open(22050, 2);
    audio_stub.fail_open = 1;
    audio_open(44100, 1);
    EXPECT_EQ(0, audio_is_open());
    EXPECT_EQ(0, audio_stub.open);  // the old device was closed first
    EXPECT_EQ(22050, audio_current_rate());
    EXPECT_EQ(2, audio_current_channels());
    write(pattern(100, 0));
    EXPECT_EQ(0u, audio_stub.queued.size());

    audio_stub.fail_open = 0;
    audio_open(44100, 1);
    EXPECT_EQ(1, audio_is_open());
    EXPECT_EQ(1, audio_current_channels());
}

TEST_F(Audio, NoSoundWhenSwitchedOffOrWithoutRate) {
    settings.ljud = 0;
    audio_open(22050, 2);
    EXPECT_EQ(0, audio_is_open());
    write(pattern(100, 0));
    settings.ljud = 1;
    audio_open(0, 2);
    EXPECT_EQ(0, audio_is_open());
    audio_open(-44100, 2);
    EXPECT_EQ(0, audio_is_open());
    audio_open(22050, 0);  // the device takes no format without channels
    EXPECT_EQ(0, audio_is_open());
    write(pattern(100, 0));
    EXPECT_EQ(0, audio_stub.open_count);
    EXPECT_EQ(0u, audio_stub.queued.size());
    EXPECT_EQ(0, audio_current_rate());
}

// A StreamSetup as the server sends it: 640 x 480 and the given format.
void stream_setup(int32_t rate, uint8_t channels) {
    std::vector<uint8_t> payload(STREAM_SETUP_MIN, 0);
    payload[2] = 640 & 0xFF, payload[3] = 640 >> 8;
    payload[4] = 480 & 0xFF, payload[5] = 480 >> 8;
    for (int i = 0; i < 4; i++) payload[7 + i] = uint8_t(uint32_t(rate) >> (8 * i));
    payload[11] = channels;
    handle_message(MSG_STREAM_SETUP, payload.data(), uint32_t(payload.size()));
}

TEST_F(Audio, StreamSetupReopensOnlyOnANewFormat) {
    fresh_client_state();
    stream_setup(22050, 2);
    EXPECT_EQ(1, audio_stub.open_count);
    write(pattern(8192, 0));
    stream_setup(22050, 2);  // same format: the queued sound plays on
    EXPECT_EQ(1, audio_stub.open_count);
    EXPECT_EQ(1, audio_stub.busy[0]);
    stream_setup(44100, 2);
    EXPECT_EQ(2, audio_stub.open_count);
    EXPECT_EQ(0, audio_stub.busy[0]);
    stream_setup(44100, 1);
    EXPECT_EQ(3, audio_stub.open_count);
    EXPECT_EQ(1, audio_stub.channels);

    // A failed open is tried again by the next StreamSetup, even with the
    // same format.
    audio_stub.fail_open = 1;
    stream_setup(22050, 1);
    EXPECT_EQ(0, audio_is_open());
    audio_stub.fail_open = 0;
    stream_setup(22050, 1);
    EXPECT_EQ(1, audio_is_open());
    EXPECT_EQ(4, audio_stub.open_count);
}

int allocations_left;
void* failing_allocator(size_t size) {
    if (allocations_left == 0) return nullptr;
    allocations_left--;
    return malloc(size);
}

TEST_F(Audio, BufferThatCannotBeAllocatedIsNeverHandedToTheDevice) {
    allocations_left = 4;
    audio_set_allocator(failing_allocator);
    audio_open(22050, 2);
    EXPECT_EQ(0, audio_is_open());
    EXPECT_EQ(0, audio_stub.open);
    EXPECT_EQ(0, audio_stub.null_attach_count);
    EXPECT_EQ(0, audio_current_rate());
    write(pattern(100, 0));
    EXPECT_EQ(0u, audio_stub.queued.size());

    audio_set_allocator(nullptr);  // the next StreamSetup tries again
    audio_open(22050, 2);
    EXPECT_EQ(1, audio_is_open());
}

TEST_F(Audio, CloseIsForGood) {
    audio_open(22050, 2);
    write(pattern(100, 0));
    audio_close();
    EXPECT_EQ(0, audio_stub.open);
    EXPECT_EQ(0, audio_is_open());
    audio_open(22050, 2);
    write(pattern(100, 0));
    EXPECT_EQ(0, audio_stub.open);
    EXPECT_EQ(1u, audio_stub.queued.size());
}

// The network thread writing while the window thread closes: nothing is
// queued once audio_close has returned, and the device ends closed.
std::atomic<int> writer_stop;
std::atomic<int> writes_done;
unsigned long keep_writing(void*) {
    std::vector<uint8_t> body(3000, 0x42);
    while (!writer_stop.load()) {
        audio_write(body.data(), uint32_t(body.size()));
        audio_open(writes_done.load() % 2 ? 22050 : 44100, 2);
        writes_done++;
    }
    return 0;
}

TEST_F(Audio, CloseWhileTheNetworkThreadWrites) {
    audio_open(22050, 2);
    writer_stop.store(0);
    writes_done.store(0);
    uintptr_t writer = thread_start(keep_writing, nullptr);
    ASSERT_NE(0u, writer);
    uint32_t start = tick_count();
    while (writes_done.load() < 50 && tick_count() - start < 5000) sleep_ms(1);
    audio_close();
    size_t queued_at_close = audio_stub.queued.size();
    int done_at_close = writes_done.load();
    start = tick_count();
    while (writes_done.load() < done_at_close + 20 && tick_count() - start < 5000) sleep_ms(1);
    writer_stop.store(1);
    ASSERT_EQ(1, thread_join(writer, 5000));
    EXPECT_EQ(queued_at_close, audio_stub.queued.size());
    EXPECT_EQ(0, audio_stub.open);
    EXPECT_GT(queued_bytes(), 0);
}

}  // namespace
