// Writes one frame of a recorded stream's pictures as a PNG: the source on
// the left, what the client shows at the given quality on the right, and
// below both a part of each enlarged three times, so that the encoder's
// approximations can be judged by eye.
//
//   lossy_picture OUT.png [quality [stream [frame]]]
//
// quality default DEFAULT_LOSSY_QUALITY; stream motion640 (default) or
// web640; frame default 30. The frames before it are encoded too, as the
// server would send them.
#include <zlib.h>

#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "bench/pictures.h"
#include "server/encode/encoder.h"

namespace {

void put_be32(std::vector<uint8_t>& out, uint32_t v) {
    for (int i = 3; i >= 0; i--) out.push_back(uint8_t(v >> (8 * i)));
}

void chunk(std::vector<uint8_t>& png, const char* type, const std::vector<uint8_t>& data) {
    put_be32(png, uint32_t(data.size()));
    size_t start = png.size();
    png.insert(png.end(), type, type + 4);
    png.insert(png.end(), data.begin(), data.end());
    put_be32(png, uint32_t(crc32(0, png.data() + start, uInt(png.size() - start))));
}

// An 8-bit RGB PNG of `rgb` (width x height x 3 bytes).
bool write_png(const char* path, const std::vector<uint8_t>& rgb, int width, int height) {
    std::vector<uint8_t> rows;
    for (int y = 0; y < height; y++) {
        rows.push_back(0);  // filter: none
        rows.insert(rows.end(), rgb.begin() + long(y) * width * 3, rgb.begin() + long(y + 1) * width * 3);
    }
    uLongf packed = compressBound(uLong(rows.size()));
    std::vector<uint8_t> idat(packed);
    if (compress2(idat.data(), &packed, rows.data(), uLong(rows.size()), 9) != Z_OK) return false;
    idat.resize(packed);
    std::vector<uint8_t> png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'}, header;
    put_be32(header, uint32_t(width));
    put_be32(header, uint32_t(height));
    header.insert(header.end(), {8, 2, 0, 0, 0});  // 8 bits, RGB
    chunk(png, "IHDR", header);
    chunk(png, "IDAT", idat);
    chunk(png, "IEND", {});
    FILE* f = std::fopen(path, "wb");
    if (f == nullptr) return false;
    bool ok = std::fwrite(png.data(), 1, png.size(), f) == png.size();
    return std::fclose(f) == 0 && ok;
}

void to_rgb(uint16_t c, uint8_t* out) {
    for (int j = 0; j < 3; j++) {
        int v = (c >> (10 - 5 * j)) & 31;
        out[j] = uint8_t((v << 3) | (v >> 2));
    }
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: lossy_picture OUT.png [quality [motion640|web640 [frame]]]\n");
        return 2;
    }
    qvs::EncoderOptions options;
    options.quality = argc > 2 ? std::atoi(argv[2]) : qvs::DEFAULT_LOSSY_QUALITY;
    const std::string stream = argc > 3 ? argv[3] : "motion640";
    const int frame = argc > 4 ? std::atoi(argv[4]) : 30;
    if (options.quality < 1 || options.quality > 100 || frame < 0 || (stream != "motion640" && stream != "web640")) {
        std::fprintf(stderr, "lossy_picture: quality 1..100, stream motion640 or web640, frame 0 or more\n");
        return 2;
    }
    const int w = 640, h = 480;
    qvs::Canvas canvas;
    canvas.resize(w, h);
    qvs::FrameEncoder encoder(options);
    std::mt19937 random(3);
    std::vector<uint8_t> body;
    for (int i = 0; i <= frame; i++) {
        if (stream == "web640") qvb::draw_web(canvas, i);
        else qvb::draw_motion(canvas, i, &random);
        encoder.encode(uint32_t(i + 1), canvas.pixels.data(), w, h, body);
    }
    // Top: source | shown. Bottom: a 200 x 160 part of each, three times.
    const int zoom = 3, cw = 200, ch = 160, cx = w / 2 - cw / 2, cy = h / 2 - ch / 2;
    const int out_w = 2 * w + 8, out_h = h + 8 + ch * zoom;
    std::vector<uint8_t> rgb(size_t(out_w) * out_h * 3, 255);
    const std::vector<uint16_t>* sides[2] = {&canvas.pixels, &encoder.reference()};
    for (int s = 0; s < 2; s++) {
        const std::vector<uint16_t>& pic = *sides[s];
        for (int y = 0; y < h; y++)
            for (int x = 0; x < w; x++) to_rgb(pic[size_t(y) * w + x], &rgb[(size_t(y) * out_w + s * (w + 8) + x) * 3]);
        for (int y = 0; y < ch * zoom; y++)
            for (int x = 0; x < cw * zoom && s * (w + 8) + x < out_w; x++)
                to_rgb(pic[size_t(cy + y / zoom) * w + cx + x / zoom],
                       &rgb[(size_t(h + 8 + y) * out_w + s * (w + 8) + x) * 3]);
    }
    if (!write_png(argv[1], rgb, out_w, out_h)) {
        std::perror(argv[1]);
        return 1;
    }
    std::printf("%s: frame %d of %s at quality %d (left source, right as shown)\n", argv[1], frame, stream.c_str(),
                options.quality);
    return 0;
}
