// server/encode/ owns turning pictures into VideoFrame bodies: this encoder, block fitting, scaling, drawing.
//
// The server's video encoder: RGB555 pictures to VideoFrame bodies.
//
// VideoFrame body:
//   0  u32 frame_id     returned by the client's FrameAck
//   4  u16 width        picture size in pixels
//   6  u16 height
//   8  u8  0            (not read by the client)
//   9  u32 raw_size     bytes of the block stream before compression
//  13  u32 compressed   bytes of the zlib stream (not read by the client)
//  17  ...              the block stream as one zlib stream
//
// Block stream: one type byte per 8 x 8 block (row by row), then each
// block's fixed-size payload in the same order. Blocks of the last column
// and row may be cut by the picture's edge; their payload still has the
// full size, and the bytes for pixels outside the picture are zero.
#ifndef QV_SERVER_ENCODER_H
#define QV_SERVER_ENCODER_H

#include <cstdint>
#include <memory>
#include <vector>

#include "server/encode/block_fit.h"

namespace qvs {

const int VIDEO_HEADER_SIZE = 17;

// Quality 100 shows every picture exactly; below it, a block of more than
// four colours may be shown approximately, within an error that grows as
// the quality falls (see block_error_budget).
const int LOSSLESS_QUALITY = 100;
const int DEFAULT_LOSSY_QUALITY = 70;

struct EncoderOptions {
    int zlib_level = 6;                  // 0 (store) .. 9 (smallest)
    int quality = LOSSLESS_QUALITY;      // 1 .. 100
};

// The squared error (5-bit channels, summed over red, green and blue) that
// a lossy block of `pixels` visible pixels may show at `quality`; 0 at 100.
long block_error_budget(int quality, int pixels);

// The zlib stream of a block stream: zlib itself for small streams, where
// it packs the repetitive block streams of text and still pictures
// tighter; libdeflate for large ones (full motion, a page of photographs),
// which it packs as tight or tighter in a third to half of the time.
class BlockStreamPacker {
public:
    BlockStreamPacker();
    ~BlockStreamPacker();
    // Appends the zlib stream of `raw` at `level` (0..9) to `out`.
    void pack(const std::vector<uint8_t>& raw, int level, std::vector<uint8_t>& out);

private:
    struct Compressor;
    std::unique_ptr<Compressor> large_;
    int large_level_ = -1;
};

struct EncodeStats {
    uint32_t blocks[6] = {};  // blocks written per type
    uint32_t raw_size = 0;    // block stream bytes
    uint32_t body_size = 0;   // VideoFrame body bytes
    // What the client shows against the picture: squared errors of the
    // 5-bit channels summed over every pixel (0 for an exact frame).
    uint64_t squared_error = 0;
};

// Keeps the client's picture as the frames sent so far have left it, and
// encodes each new picture against it.
class FrameEncoder {
public:
    // The first frame of a new encoder repaints every block.
    explicit FrameEncoder(const EncoderOptions& options = EncoderOptions());

    // Encodes `picture` (width x height pixels, rows `width` apart) as the
    // VideoFrame body of frame `frame_id` into `body` (replaced). A size
    // other than the previous frame's is encoded against black, as the
    // client re-creates its picture black on a size change. width and
    // height must be 1..65535.
    void encode(uint32_t frame_id, const uint16_t* picture, int width, int height,
                std::vector<uint8_t>& body, EncodeStats* stats = nullptr);

    // The next frame repaints every block: the client's picture is unknown
    // (a new connection, or a stream started again at the same size).
    void force_full() { force_full_ = true; }

    // What the client shows after decoding every frame encoded so far.
    const std::vector<uint16_t>& reference() const { return reference_; }
    int width() const { return width_; }
    int height() const { return height_; }

    void set_options(const EncoderOptions& options) { options_ = options; }
    const EncoderOptions& options() const { return options_; }

private:
    EncoderOptions options_;
    int width_ = 0, height_ = 0;
    bool force_full_ = true;
    std::vector<uint16_t> reference_;  // the client's picture
    std::vector<uint8_t> stream_;      // block stream scratch
    BlockStreamPacker packer_;
};

// Encodes one changed block into its smallest form: exact when it has at
// most four colours or at quality 100, else the cheapest form within the
// quality's error budget, RAW when none is. `pixels` holds the 64 pixels
// row by row; only the first bw columns and bh rows are in the picture.
// Writes the payload into `payload` (128 bytes of room), the pixels the
// client will show into `shown` (64), and returns the type.
int encode_block(const uint16_t pixels[64], int bw, int bh, const EncoderOptions& options,
                 uint8_t payload[128], uint16_t shown[64]);

}  // namespace qvs

#endif
