// The one-pending-notice gate between the network and window threads.
#include "core/frame_notice.h"

#include <atomic>
#include <cstdint>

// 1 while a frame-ready notice is posted and not yet taken. Zero-initialised.
static std::atomic<int32_t> notice_pending;

int frame_notice_claim() { return notice_pending.exchange(1) == 0 ? 1 : 0; }

void frame_notice_unclaim() { notice_pending.store(0); }

void frame_notice_taken() { notice_pending.store(0); }
