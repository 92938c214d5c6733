#include "server/moonlight/reed_solomon.h"

#include <cstring>

namespace qvs {

namespace {

struct Tables {
    uint8_t exp[512];
    uint8_t log[256];
    Tables() {
        int x = 1;
        for (int i = 0; i < 255; i++) {
            exp[i] = exp[i + 255] = uint8_t(x);
            log[x] = uint8_t(i);
            x <<= 1;
            if (x & 0x100) x ^= 0x11D;
        }
        exp[510] = exp[511] = 0;
        log[0] = 0;
    }
};

const Tables& tables() {
    static const Tables t;
    return t;
}

// row ^= factor * source, over n bytes.
void mul_add(uint8_t* row, const uint8_t* source, uint8_t factor, size_t n) {
    if (factor == 0) return;
    const Tables& t = tables();
    unsigned lf = t.log[factor];
    for (size_t b = 0; b < n; b++)
        if (source[b]) row[b] ^= t.exp[t.log[source[b]] + lf];
}

}  // namespace

uint8_t gf_mul(uint8_t a, uint8_t b) {
    if (!a || !b) return 0;
    const Tables& t = tables();
    return t.exp[t.log[a] + t.log[b]];
}

uint8_t gf_inv(uint8_t a) { return a ? tables().exp[255 - tables().log[a]] : 0; }

ReedSolomon::ReedSolomon(int data, int parity) : data_(0), parity_(0) {
    if (data < 1 || parity < 1 || data + parity > 255) return;
    data_ = data;
    parity_ = parity;
    rows_.resize(size_t(data) * size_t(parity));
    for (int j = 0; j < parity; j++)
        for (int i = 0; i < data; i++) rows_[size_t(j * data + i)] = gf_inv(uint8_t((parity + i) ^ j));
}

ReedSolomon::ReedSolomon(int data, int parity, const uint8_t* rows) : ReedSolomon(data, parity) {
    if (valid()) rows_.assign(rows, rows + rows_.size());
}

void ReedSolomon::encode(uint8_t* const* shards, size_t size) const {
    for (int j = 0; j < parity_; j++) {
        uint8_t* out = shards[data_ + j];
        std::memset(out, 0, size);
        for (int i = 0; i < data_; i++) mul_add(out, shards[i], coefficient(j, i), size);
    }
}

// With m data shards missing, m present parity rows give m equations in
// the missing shards once the present data is taken out of them; the m x m
// Cauchy system is solved by Gauss-Jordan elimination on the shards
// themselves.
bool ReedSolomon::recover(uint8_t* const* shards, const uint8_t* present, size_t size) const {
    std::vector<int> missing, rows;
    for (int i = 0; i < data_; i++)
        if (!present[i]) missing.push_back(i);
    for (int j = 0; j < parity_ && rows.size() < missing.size(); j++)
        if (present[data_ + j]) rows.push_back(j);
    if (rows.size() < missing.size()) return false;
    if (missing.empty()) return true;
    size_t m = missing.size();
    std::vector<std::vector<uint8_t>> rhs(m), a(m, std::vector<uint8_t>(m));
    for (size_t r = 0; r < m; r++) {
        int j = rows[r];
        rhs[r].assign(shards[data_ + j], shards[data_ + j] + size);
        for (int i = 0; i < data_; i++)
            if (present[i]) mul_add(rhs[r].data(), shards[i], coefficient(j, i), size);
        for (size_t k = 0; k < m; k++) a[r][k] = coefficient(j, missing[k]);
    }
    for (size_t col = 0; col < m; col++) {
        size_t pivot = col;
        while (pivot < m && a[pivot][col] == 0) pivot++;
        if (pivot == m) return false;
        std::swap(a[pivot], a[col]);
        std::swap(rhs[pivot], rhs[col]);
        uint8_t scale = gf_inv(a[col][col]);
        for (size_t k = 0; k < m; k++) a[col][k] = gf_mul(a[col][k], scale);
        std::vector<uint8_t> scaled(size, 0);
        mul_add(scaled.data(), rhs[col].data(), scale, size);
        rhs[col].swap(scaled);
        for (size_t r = 0; r < m; r++) {
            uint8_t f = a[r][col];
            if (r == col || f == 0) continue;
            for (size_t k = 0; k < m; k++) a[r][k] ^= gf_mul(f, a[col][k]);
            mul_add(rhs[r].data(), rhs[col].data(), f, size);
        }
    }
    for (size_t k = 0; k < m; k++) std::memcpy(shards[missing[k]], rhs[k].data(), size);
    return true;
}

}  // namespace qvs
