// LZARI decoder and encoder. The coder, both models and the ring's initial contents must match
// the 1989 program bit for bit: MAX saves in the wild were written by it or by copies of it.
#include "containers/lzari.h"

#include <algorithm>
#include <array>

namespace marrowin {

namespace {

constexpr uint32_t RING_SIZE = 4096;
constexpr uint32_t RING_MASK = RING_SIZE - 1;
constexpr uint32_t MATCH_MAX = 60;
constexpr uint32_t MATCH_MIN = 3;
// Literals 0..255, then match lengths 3..60.
constexpr uint32_t SYMBOLS = 256 + MATCH_MAX - MATCH_MIN + 1;
// The ring starts as spaces up to here, then MATCH_MAX zero bytes; output starts here.
constexpr uint32_t RING_START = RING_SIZE - MATCH_MAX;

constexpr uint32_t Q1 = 0x8000;
constexpr uint32_t Q2 = 0x10000;
constexpr uint32_t Q3 = 0x18000;
constexpr uint32_t Q4 = 0x20000;
constexpr uint32_t MAX_CUM = 0x7FFF;
constexpr int VALUE_BITS = 17;

static_assert(SYMBOLS == 314);

struct PositionTable {
    std::array<uint32_t, RING_SIZE + 1> cum{};
    PositionTable() {
        cum[RING_SIZE] = 0;
        for (uint32_t k = RING_SIZE; k >= 1; --k) cum[k - 1] = cum[k] + 10000 / (k + 200);
    }
};

const PositionTable& positions() {
    static const PositionTable table;
    return table;
}

// Codes ranked by frequency; rank 0 is a sentinel whose frequency never ties with rank 1.
struct CodeModel {
    std::array<uint32_t, SYMBOLS + 1> freq;
    std::array<uint32_t, SYMBOLS + 1> cum;
    std::array<uint16_t, SYMBOLS + 1> codeOf;
    std::array<uint16_t, SYMBOLS> rankOf;

    CodeModel() {
        freq[0] = 0;
        for (uint32_t s = 1; s <= SYMBOLS; ++s) {
            freq[s] = 1;
            codeOf[s] = uint16_t(s - 1);
            rankOf[s - 1] = uint16_t(s);
        }
        codeOf[0] = 0;
        for (uint32_t s = 0; s <= SYMBOLS; ++s) cum[s] = SYMBOLS - s;
    }

    void update(uint32_t s) {
        if (cum[0] >= MAX_CUM) {
            uint32_t c = 0;
            for (uint32_t t = SYMBOLS; t >= 1; --t) {
                cum[t] = c;
                freq[t] = (freq[t] + 1) / 2;
                c += freq[t];
            }
            cum[0] = c;
        }
        uint32_t t = s;
        while (freq[t] == freq[t - 1]) --t;
        if (t < s) {
            uint16_t a = codeOf[t], b = codeOf[s];
            codeOf[t] = b;
            codeOf[s] = a;
            rankOf[a] = uint16_t(s);
            rankOf[b] = uint16_t(t);
        }
        ++freq[t];
        for (uint32_t u = 0; u < t; ++u) ++cum[u];
    }
};

// Smallest index in [1, last] whose entry is <= target (the tables do not increase, and the
// last entry is 0, so there always is one).
uint32_t findBelow(const uint32_t* table, uint32_t last, uint64_t target) {
    uint32_t i = 1, j = last;
    while (i < j) {
        uint32_t k = (i + j) / 2;
        if (table[k] > target)
            i = k + 1;
        else
            j = k;
    }
    return i;
}

}  // namespace

const uint32_t* lzariPositionTable() { return positions().cum.data(); }

LzariDecoded lzariDecode(ByteView input, uint64_t declaredSize, uint64_t maxSize,
                         const LzariDecodeOptions& options) {
    LzariDecoded result;
    if (declaredSize > maxSize) {
        result.status = LzariStatus::TooLarge;
        return result;
    }
    if (declaredSize == 0) return result;

    std::vector<uint8_t>& out = result.data;
    // Grown as bytes come: a small hostile stream may declare far more than it holds.
    out.reserve(size_t(std::min<uint64_t>(declaredSize, 1u << 20)));

    uint64_t nextByte = 0;  // index of the next input byte to fetch
    uint32_t bitBuffer = 0;
    int bitsLeft = 0;
    uint64_t bitsPastEnd = 0;
    uint64_t trustedBytes = UINT64_MAX;  // output length when the first bit past the end was read
    auto nextBit = [&]() -> uint32_t {
        if (bitsLeft == 0) {
            bitBuffer = nextByte < input.size ? input.data[nextByte] : 0;
            ++nextByte;
            bitsLeft = 8;
        }
        --bitsLeft;
        if (nextByte > input.size) {
            if (bitsPastEnd++ == 0) trustedBytes = out.size();
        }
        return (bitBuffer >> bitsLeft) & 1;
    };

    const PositionTable& pos = positions();
    CodeModel model;
    std::array<uint8_t, RING_SIZE> ring;
    std::fill(ring.begin(), ring.begin() + RING_START, uint8_t(' '));
    std::fill(ring.begin() + RING_START, ring.end(), uint8_t(0));
    uint32_t r = RING_START;

    uint32_t low = 0, high = Q4, value = 0;
    for (int i = 0; i < VALUE_BITS; ++i) value = 2 * value + nextBit();

    // Values stay within [low, high) for any input, but the arithmetic is unsigned and 64-bit
    // so a broken invariant could never be undefined behaviour.
    auto renormalise = [&]() {
        for (;;) {
            if (low >= Q2) {
                value -= Q2;
                low -= Q2;
                high -= Q2;
            } else if (low >= Q1 && high <= Q3) {
                value -= Q1;
                low -= Q1;
                high -= Q1;
            } else if (high > Q2) {
                break;
            }
            low *= 2;
            high *= 2;
            value = 2 * value + nextBit();
        }
    };
    auto target = [&](uint32_t total) {
        uint64_t range = high - low;
        return ((uint64_t(value - low) + 1) * total - 1) / range;
    };
    auto narrow = [&](uint32_t upper, uint32_t lower, uint32_t total) {
        uint64_t range = high - low;
        high = low + uint32_t(range * upper / total);
        low = low + uint32_t(range * lower / total);
        renormalise();
    };

    auto put = [&](uint8_t b) {
        out.push_back(b);
        ring[r] = b;
        r = (r + 1) & RING_MASK;
    };

    while (out.size() < declaredSize) {
        if (bitsPastEnd > options.maxBitsPastEnd ||
            (options.stopWhenInputFetched && nextByte >= input.size)) {
            result.status = LzariStatus::EndsEarly;
            if (!options.stopWhenInputFetched && trustedBytes < out.size()) out.resize(trustedBytes);
            break;
        }
        uint32_t s = findBelow(model.cum.data(), SYMBOLS, target(model.cum[0]));
        uint32_t code = model.codeOf[s];
        narrow(model.cum[s - 1], model.cum[s], model.cum[0]);
        model.update(s);
        if (code < 256) {
            put(uint8_t(code));
            continue;
        }
        uint32_t length = code - 256 + MATCH_MIN;
        uint32_t k = findBelow(pos.cum.data(), RING_SIZE, target(pos.cum[0]));
        uint32_t p = k - 1;
        narrow(pos.cum[p], pos.cum[p + 1], pos.cum[0]);
        uint32_t src = (r - 1 - p) & RING_MASK;
        // Byte by byte: a match may overlap what it produces. Clipped at the declared size.
        uint64_t n = std::min<uint64_t>(length, declaredSize - out.size());
        for (uint64_t i = 0; i < n; ++i) {
            put(ring[src]);
            src = (src + 1) & RING_MASK;
        }
    }
    result.inputBytesUsed = std::min(nextByte, input.size);
    return result;
}

namespace {

class Encoder {
public:
    std::vector<uint8_t> out;

    void code(CodeModel& model, uint32_t c) {
        uint32_t s = model.rankOf[c];
        narrow(model.cum[s - 1], model.cum[s], model.cum[0]);
        model.update(s);
    }
    void position(const PositionTable& pos, uint32_t p) {
        narrow(pos.cum[p], pos.cum[p + 1], pos.cum[0]);
    }
    void finish() {
        ++pending_;
        emit(low_ < Q1 ? 0 : 1);
        if (bits_ > 0) out.push_back(uint8_t(acc_ << (8 - bits_)));
    }

private:
    uint32_t low_ = 0, high_ = Q4;
    uint64_t pending_ = 0;
    uint32_t acc_ = 0;
    int bits_ = 0;

    void putBit(uint32_t bit) {
        acc_ = (acc_ << 1) | bit;
        if (++bits_ == 8) {
            out.push_back(uint8_t(acc_));
            acc_ = 0;
            bits_ = 0;
        }
    }
    void emit(uint32_t bit) {
        putBit(bit);
        for (; pending_ > 0; --pending_) putBit(1 - bit);
    }
    void narrow(uint32_t upper, uint32_t lower, uint32_t total) {
        uint64_t range = high_ - low_;
        high_ = low_ + uint32_t(range * upper / total);
        low_ = low_ + uint32_t(range * lower / total);
        for (;;) {
            if (high_ <= Q2) {
                emit(0);
            } else if (low_ >= Q2) {
                emit(1);
                low_ -= Q2;
                high_ -= Q2;
            } else if (low_ >= Q1 && high_ <= Q3) {
                ++pending_;
                low_ -= Q1;
                high_ -= Q1;
            } else {
                break;
            }
            low_ *= 2;
            high_ *= 2;
        }
    }
};

constexpr uint32_t HASH_BITS = 15;
// Candidates looked at per position: enough to find nearly every long match in save data,
// few enough to stay well above a megabyte a second.
constexpr uint32_t CHAIN_LIMIT = 128;

uint32_t hash3(const uint8_t* p) {
    uint32_t v = uint32_t(p[0]) << 16 | uint32_t(p[1]) << 8 | p[2];
    return (v * 2654435761u) >> (32 - HASH_BITS);
}

}  // namespace

std::vector<uint8_t> lzariEncode(const uint8_t* data, size_t size) {
    Encoder enc;
    if (size == 0) return {};
    enc.out.reserve(size / 2 + 16);

    // The ring's initial spaces come first, so a match may reach back into them as the
    // decoder's ring allows; its zero bytes are never referenced.
    std::vector<uint8_t> text(RING_START + size);
    std::fill(text.begin(), text.begin() + RING_START, uint8_t(' '));
    std::copy(data, data + size, text.begin() + RING_START);
    const uint8_t* v = text.data();
    const size_t end = text.size();

    // Positions are stored plus one; 0 means none.
    std::vector<uint32_t> head(size_t(1) << HASH_BITS, 0);
    std::array<uint32_t, RING_SIZE> prev{};
    auto insert = [&](size_t i) {
        if (i + 2 >= end) return;
        uint32_t h = hash3(v + i);
        prev[i & RING_MASK] = head[h];
        head[h] = uint32_t(i + 1);
    };
    for (size_t i = 0; i < RING_START; ++i) insert(i);

    CodeModel model;
    const PositionTable& pos = positions();
    size_t cur = RING_START;
    while (cur < end) {
        size_t maxLen = std::min<size_t>(MATCH_MAX, end - cur);
        size_t bestLen = 0, bestDist = 0;
        if (maxLen >= MATCH_MIN) {
            uint32_t cand = head[hash3(v + cur)];
            for (uint32_t tries = 0; cand != 0 && tries < CHAIN_LIMIT; ++tries) {
                size_t c = cand - 1;
                size_t dist = cur - c;
                if (dist > RING_SIZE) break;
                if (v[c + bestLen] == v[cur + bestLen]) {
                    size_t len = 0;
                    while (len < maxLen && v[c + len] == v[cur + len]) ++len;
                    if (len > bestLen) {
                        bestLen = len;
                        bestDist = dist;
                        if (len == maxLen) break;
                    }
                }
                cand = prev[c & RING_MASK];
            }
        }
        if (bestLen >= MATCH_MIN) {
            enc.code(model, uint32_t(256 + bestLen - MATCH_MIN));
            enc.position(pos, uint32_t(bestDist - 1));
            for (size_t i = 0; i < bestLen; ++i) insert(cur + i);
            cur += bestLen;
        } else {
            enc.code(model, v[cur]);
            insert(cur);
            ++cur;
        }
    }
    enc.finish();
    return std::move(enc.out);
}

}  // namespace marrowin
