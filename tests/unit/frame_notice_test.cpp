// The frame-ready gate: one notice pending at most, a fresh one after the
// window thread has taken it, and again after a failed post. (The two-thread
// flood is in tests/native/frame_notice_flood_test.cpp.)
#include <gtest/gtest.h>

#include "core/frame_notice.h"

namespace {

TEST(FrameNotice, OneNoticePendingUntilTaken) {
    frame_notice_taken();  // a clean start whatever ran before
    EXPECT_EQ(frame_notice_claim(), 1);
    for (int i = 0; i < 1000; i++) EXPECT_EQ(frame_notice_claim(), 0);
    frame_notice_taken();
    EXPECT_EQ(frame_notice_claim(), 1);
    EXPECT_EQ(frame_notice_claim(), 0);
    frame_notice_unclaim();  // the post failed: the next frame tries again
    EXPECT_EQ(frame_notice_claim(), 1);
    frame_notice_taken();
}

}  // namespace
