// Frame pacing against simulated clients that decode at a known speed: the
// server's rate and (automatic) quality follow the client, and pictures do
// not queue up in front of it.
#include <gtest/gtest.h>

#include <deque>
#include <functional>

#include "server/encoder.h"
#include "server/frame_pacer.h"

namespace {

using qvs::FramePacer;

// A client that decodes one frame after the other, each in decode_us(quality)
// microseconds, and acknowledges it when done; the server sends a frame when
// fewer than two are unacknowledged and its pacing interval has passed, as
// the connection loop does. Reports the last `measure_us` of `run_us`.
struct Outcome {
    double fps = 0;              // frames sent per second
    int64_t worst_delay_us = 0;  // from a picture's capture to the client showing it
    size_t most_in_flight = 0;
};

struct Simulation {
    FramePacer pacer;
    int64_t now = 0, next_frame = 0, client_free = 0;
    uint32_t id = 0;
    struct Frame {
        uint32_t id;
        int64_t captured, shown;
    };
    std::deque<Frame> in_flight;

    Outcome run(const std::function<int64_t(int)>& decode_us, int64_t run_us, int64_t measure_us) {
        Outcome o;
        int sent = 0;
        for (int64_t end = now + run_us; now < end; now += 250) {
            const bool measuring = now >= end - measure_us;
            while (!in_flight.empty() && in_flight.front().shown <= now) {
                pacer.acked(in_flight.front().id, in_flight.front().shown);
                if (measuring)
                    o.worst_delay_us = std::max(o.worst_delay_us, in_flight.front().shown - in_flight.front().captured);
                in_flight.pop_front();
            }
            if (in_flight.size() < 2 && now >= next_frame) {
                pacer.sent(++id, now);
                client_free = std::max(client_free, now) + decode_us(pacer.quality());
                in_flight.push_back({id, now, client_free});
                next_frame = std::max(next_frame + pacer.interval_us(), now - pacer.interval_us());
                sent += measuring;
                o.most_in_flight = std::max(o.most_in_flight, in_flight.size());
            }
        }
        o.fps = sent * 1e6 / double(measure_us);
        return o;
    }
};

TEST(FramePacing, TheRateFollowsAClientSlowerThanItAskedFor) {
    struct Case {
        int64_t decode_us;
        double fps_low, fps_high;
    };
    // Asked: 30 frames a second. A client decoding in 100 ms manages 10.
    const Case cases[] = {{5000, 29, 31}, {30000, 26, 31}, {100000, 7.5, 10}, {400000, 1.9, 2.5}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.decode_us);
        Simulation s{FramePacer(30, 70)};
        Outcome o = s.run([&](int) { return c.decode_us; }, 20000000, 10000000);
        EXPECT_GE(o.fps, c.fps_low);
        EXPECT_LE(o.fps, c.fps_high);
        EXPECT_LE(o.most_in_flight, 2u);
        // A picture waits for no other picture: shown within one decoding
        // (and the rest of a sending interval) of its capture.
        EXPECT_LE(o.worst_delay_us, std::max<int64_t>(c.decode_us * 3 / 2, 34000));
        EXPECT_EQ(s.pacer.quality(), 70);  // a fixed quality stays
    }
}

TEST(FramePacing, AutomaticQualityFallsUntilTheClientKeepsUpAndRisesWithRoom) {
    // A client whose decoding time grows with the quality: at 70 it needs
    // 52 ms a frame, too slow for the 30 frames a second it asks for.
    Simulation s{FramePacer(30, qvs::QUALITY_AUTO)};
    EXPECT_EQ(s.pacer.quality(), qvs::DEFAULT_LOSSY_QUALITY);
    auto slow = [](int q) { return int64_t(10000 + 600 * q); };
    Outcome o = s.run(slow, 20000000, 5000000);
    const int settled = s.pacer.quality();
    EXPECT_LE(settled, 33);  // 30 ms a frame or less
    EXPECT_GE(settled, 20);  // but no lower than it needs
    EXPECT_GE(o.fps, 28);
    EXPECT_LE(o.worst_delay_us, 60000);
    // The same client twice as fast: the quality comes back up.
    auto fast = [](int q) { return int64_t(5000 + 300 * q); };
    o = s.run(fast, 20000000, 5000000);
    EXPECT_GT(s.pacer.quality(), settled + 5);
    EXPECT_LE(5000 + 300 * s.pacer.quality(), 30000);
    EXPECT_GE(o.fps, 28);
    EXPECT_LE(o.most_in_flight, 2u);
}

}  // namespace
