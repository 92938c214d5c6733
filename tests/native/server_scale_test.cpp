// The capture's scaler: the aspect ratio with black bars, flat colours kept
// exactly, area averaging instead of dropped pixels, and a plain copy when
// the sizes are equal.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "server/scale.h"

namespace {

struct Case {
    int sw, sh, dw, dh;
    int ix, iy, iw, ih;  // where the picture lands
};

TEST(ServerScale, KeepsAspectAndFlatColoursWithBlackBars) {
    const Case cases[] = {
        {1920, 1080, 640, 480, 0, 60, 640, 360},  // wide screen on 4:3: bars above and below
        {600, 800, 640, 480, 140, 0, 360, 480},   // portrait: bars left and right
        {100, 80, 640, 480, 20, 0, 600, 480},     // enlarged
        {640, 480, 640, 480, 0, 0, 640, 480},     // equal: no bars
        {7, 3, 5, 5, 0, 1, 5, 2},                 // odd sizes
    };
    for (const Case& c : cases) {
        std::vector<uint32_t> src(size_t(c.sw) * c.sh, 0x00C86432u);
        std::vector<uint16_t> dst(size_t(c.dw) * c.dh, 0x7FFF);
        qvs::AreaScaler s;
        s.configure(c.sw, c.sh, c.dw, c.dh);
        s.scale(src.data(), c.sw, qvs::Rect{0, 0, c.dw, c.dh}, dst.data());
        for (int y = 0; y < c.dh; y++) {
            for (int x = 0; x < c.dw; x++) {
                bool inside = x >= c.ix && x < c.ix + c.iw && y >= c.iy && y < c.iy + c.ih;
                ASSERT_EQ(dst[size_t(y) * c.dw + x], inside ? qvs::rgb555(0xC86432) : 0x7FFF)
                    << c.sw << "x" << c.sh << " to " << c.dw << "x" << c.dh << " at " << x << "," << y;
            }
        }
    }
}

TEST(ServerScale, EqualSizesCopyEveryPixel) {
    std::mt19937 rng(5);
    std::vector<uint32_t> src(64 * 48);
    for (uint32_t& p : src) p = rng() & 0xFFFFFF;
    std::vector<uint16_t> dst(64 * 48);
    qvs::AreaScaler s;
    s.configure(64, 48, 64, 48);
    s.scale(src.data(), 64, s.image(), dst.data());
    for (size_t i = 0; i < src.size(); i++) ASSERT_EQ(dst[i], qvs::rgb555(src[i])) << i;
}

TEST(ServerScale, AveragesTheCoveredArea) {
    // One-pixel black and white stripes shrunk 2:1 become grey, not black or
    // white; a single white pixel in 3x3 becomes a ninth of white.
    std::vector<uint32_t> stripes(8 * 2);
    for (int i = 0; i < 16; i++) stripes[size_t(i)] = (i % 2) ? 0xF8F8F8 : 0;
    std::vector<uint16_t> out(4);
    qvs::AreaScaler s;
    s.configure(8, 2, 4, 1);
    s.scale(stripes.data(), 8, s.image(), out.data());
    for (uint16_t p : out) EXPECT_EQ(p, qvs::rgb555(0x7C7C7C));
    std::vector<uint32_t> dot(9, 0);
    dot[4] = 0xFFFFFF;
    s.configure(3, 3, 1, 1);
    s.scale(dot.data(), 3, s.image(), out.data());
    EXPECT_EQ(out[0], qvs::rgb555(0x1C1C1C));
}

TEST(ServerScale, MapsChangesAndPointsBetweenSizes) {
    qvs::AreaScaler s;
    s.configure(1920, 1080, 640, 480);
    qvs::Rect t = s.target_of(qvs::Rect{300, 90, 30, 3});  // source pixels 300..329, 90..92
    EXPECT_EQ(std::vector<int>({t.x, t.y, t.w, t.h}), std::vector<int>({100, 90, 10, 1}));
    int x = 0, y = 0;
    s.source_point(100, 90, &x, &y);  // the centre of that target pixel
    EXPECT_EQ(std::make_pair(x, y), std::make_pair(301, 91));
    s.source_point(0, 0, &x, &y);  // on the bar: clamped to the picture
    EXPECT_EQ(std::make_pair(x, y), std::make_pair(1, 1));
}

}  // namespace
