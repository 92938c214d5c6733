// At most one frame-ready notice waits in the window thread's queue.
//
// The network thread announces every decoded frame; the window thread
// paints the frame buffer as it is when the notice arrives. When frames come
// faster than the window thread paints, further notices would only paint the
// same picture again and pile up in the message queue without bound (input
// and timer messages then wait behind thousands of paints). So a notice is
// posted only while none is pending; the window thread marks it taken before
// it paints, so a frame decoded during that paint posts a fresh notice and is
// shown too.
#ifndef QV_CORE_FRAME_NOTICE_H
#define QV_CORE_FRAME_NOTICE_H

// Network thread: 1 when a notice should be posted now (none is pending);
// the notice then counts as pending.
int frame_notice_claim();

// Network thread: the post failed (queue full, no window); a later frame
// may try again.
void frame_notice_unclaim();

// Window thread: the notice has arrived; called before painting.
void frame_notice_taken();

#endif
