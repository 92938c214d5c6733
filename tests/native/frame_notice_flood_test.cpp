// The frame-ready gate under a flood: a network thread announcing frames as
// fast as it can while a window thread takes the notices.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "core/frame_notice.h"

namespace {

// A flood of frames from one thread while another takes notices: posts stay
// at most one ahead of the takes, and a frame after the last take is always
// announced.
TEST(FrameNotice, FloodNeverRunsMoreThanOneAhead) {
    frame_notice_taken();
    std::atomic<int> posted{0};
    std::atomic<int> taken{0};
    std::atomic<bool> done{false};
    std::atomic<int> worst{0};
    std::thread window([&] {
        while (!done.load()) {
            if (posted.load() > taken.load()) {
                taken++;  // counted first, so a free gate always means counted
                frame_notice_taken();
            }
        }
    });
    for (int frame = 0; frame < 200000; frame++) {
        if (frame_notice_claim()) {
            int ahead = ++posted - taken.load();
            if (ahead > worst.load()) worst.store(ahead);
        }
    }
    done = true;
    window.join();
    EXPECT_LE(worst.load(), 1);
    EXPECT_GE(posted.load(), 1);
    // The window thread has taken every posted notice, so the next frame
    // is announced.
    if (posted.load() == taken.load()) {
        EXPECT_EQ(frame_notice_claim(), 1);
    }
    frame_notice_taken();
}

}  // namespace
