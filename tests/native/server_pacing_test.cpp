// Frame pacing against simulated clients (or links) that take a known time per frame: rate and
// (automatic) quality follow them; pictures do not queue up in front of them.
#include <gtest/gtest.h>

#include <deque>
#include <functional>

#include "server/encode/encoder.h"
#include "server/net/frame_pacer.h"

namespace {

// The client decodes frame after frame, each in decode_us(quality), acking each; the server sends when
// under two are unacknowledged and its interval has passed. Measured over the last `measure_us` of `run_us`.
struct Simulation {
    qvs::FramePacer pacer;
    int64_t now = 0, next_frame = 0, client_free = 0, worst_delay = 0;
    uint32_t id = 0;
    size_t most_in_flight = 0;
    std::deque<std::pair<int64_t, int64_t>> in_flight;  // captured, shown

    double run(const std::function<int64_t(int)>& decode_us, int64_t run_us, int64_t measure_us) {
        int sent = 0;
        worst_delay = 0, most_in_flight = 0;
        for (int64_t end = now + run_us; now < end; now += 250) {
            const bool measuring = now >= end - measure_us;
            for (; !in_flight.empty() && in_flight.front().second <= now; in_flight.pop_front()) {
                pacer.acked(id - uint32_t(in_flight.size()) + 1, in_flight.front().second);
                if (measuring) worst_delay = std::max(worst_delay, in_flight.front().second - in_flight.front().first);
            }
            if (in_flight.size() < 2 && now >= next_frame) {
                pacer.sent(++id, now);
                client_free = std::max(client_free, now) + decode_us(pacer.quality());
                in_flight.push_back({now, client_free});
                next_frame = std::max(next_frame + pacer.interval_us(), now - pacer.interval_us());
                sent += measuring;
                most_in_flight = std::max(most_in_flight, in_flight.size());
            }
        }
        return sent * 1e6 / double(measure_us);
    }
};

TEST(FramePacing, AtAFixedQualityTheRateFollowsAClientSlowerThanItAskedFor) {
    // Asked: 30 frames a second. A client decoding in 100 ms manages 10.
    const struct {
        int64_t decode_us;
        double fps_low, fps_high;
    } cases[] = {{5000, 29, 31}, {30000, 26, 31}, {100000, 7.5, 10}, {400000, 1.9, 2.5}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.decode_us);
        Simulation s{qvs::FramePacer(30, 70)};
        double fps = s.run([&](int) { return c.decode_us; }, 20000000, 10000000);
        EXPECT_TRUE(fps >= c.fps_low && fps <= c.fps_high) << fps;
        // A picture waits for no other: shown within one decoding (and an interval's rest); a fixed quality stays.
        EXPECT_LE(s.worst_delay, std::max<int64_t>(c.decode_us * 3 / 2, 34000));
        EXPECT_TRUE(s.most_in_flight <= 2 && s.pacer.quality() == 70) << s.most_in_flight << " " << s.pacer.quality();
    }
}

TEST(FramePacing, AutomaticQualityKeepsClientAndLinkBusyAtMostSixTenthsOfTheTime) {
    // The time a frame takes grows with the quality: at 70, 52 ms, too slow for 30 a second.
    Simulation s{qvs::FramePacer(30, qvs::QUALITY_AUTO)};
    EXPECT_GE(s.run([](int q) { return int64_t(10000 + 600 * q); }, 10000000, 5000000), 28);
    const int settled = s.pacer.quality();
    EXPECT_TRUE(settled <= 16 && settled >= 3 && s.worst_delay <= 30000) << settled;  // 20 ms a frame or less
    // Twice as fast: the quality comes back up, as far as the share allows.
    EXPECT_GE(s.run([](int q) { return int64_t(5000 + 300 * q); }, 10000000, 5000000), 28);
    EXPECT_TRUE(s.pacer.quality() > settled + 5 && 5000 + 300 * s.pacer.quality() <= 20000) << s.pacer.quality();
    // A link so slow that even the lowest quality takes 100 ms a frame: the lowest within seconds, and
    // fewer frames rather than a queue.
    Simulation slow{qvs::FramePacer(30, qvs::QUALITY_AUTO)};
    const double fps = slow.run([](int q) { return int64_t(100000 + 2000 * q); }, 8000000, 4000000);
    EXPECT_TRUE(slow.pacer.quality() == 1 && fps > 5 && fps < 6.5 && slow.worst_delay <= 110000) << fps;
}

}  // namespace
