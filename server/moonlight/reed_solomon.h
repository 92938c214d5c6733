// Reed-Solomon erasure code over GF(2^8) (polynomial 0x11D), systematic:
// shards 0 .. D-1 are the data, D .. D+P-1 parity. Parity row j, data
// column i has the Cauchy coefficient 1 / ((P + i) ^ j), the code both
// GameStream hosts and clients use for video; audio brings its own rows.
#ifndef QV_SERVER_MOONLIGHT_REED_SOLOMON_H
#define QV_SERVER_MOONLIGHT_REED_SOLOMON_H

#include <cstddef>
#include <cstdint>
#include <vector>

namespace qvs {

class ReedSolomon {
public:
    // 1 <= data, 1 <= parity, data + parity <= 255 (else valid() is false).
    ReedSolomon(int data, int parity);
    // The same with the parity rows given: parity x data coefficients.
    ReedSolomon(int data, int parity, const uint8_t* rows);

    bool valid() const { return data_ > 0; }
    uint8_t coefficient(int row, int column) const { return rows_[size_t(row) * size_t(data_) + size_t(column)]; }

    // Fills shards[data .. data+parity-1] from shards[0 .. data-1], each `size` bytes.
    void encode(uint8_t* const* shards, size_t size) const;
    // Rebuilds the missing data shards (present[i] 0) from any `data`
    // present shards. False when too few are present; nothing is changed then.
    bool recover(uint8_t* const* shards, const uint8_t* present, size_t size) const;

private:
    int data_, parity_;
    std::vector<uint8_t> rows_;
};

// Multiplication and inverse in GF(2^8) with polynomial 0x11D (inverse of 0 is 0).
uint8_t gf_mul(uint8_t a, uint8_t b);
uint8_t gf_inv(uint8_t a);

}  // namespace qvs

#endif
