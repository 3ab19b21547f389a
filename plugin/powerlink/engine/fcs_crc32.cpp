#include "fcs_crc32.h"

#include <array>

#if defined(__x86_64__) && defined(__GNUC__)
#define FLOWLENS_CRC_FOLDING 1
#include <immintrin.h>
#endif

namespace {

constexpr uint32_t REFLECTED_POLYNOMIAL = 0xEDB88320u;
constexpr int SLICES = 8;

using crc_tables = std::array<std::array<uint32_t, 256>, SLICES>;

// tables[0] advances the CRC by one byte; tables[k] by a byte followed by k
// zero bytes, so eight table look-ups take in eight bytes at once.
constexpr crc_tables make_tables() {
    crc_tables tables{};
    for (uint32_t n = 0; n < 256; ++n) {
        uint32_t c = n;
        for (int bit = 0; bit < 8; ++bit) c = (c & 1u) ? (c >> 1) ^ REFLECTED_POLYNOMIAL : c >> 1;
        tables[0][n] = c;
    }
    for (int k = 1; k < SLICES; ++k)
        for (uint32_t n = 0; n < 256; ++n) tables[k][n] = (tables[k - 1][n] >> 8) ^ tables[0][tables[k - 1][n] & 0xFFu];
    return tables;
}

constexpr crc_tables TABLES = make_tables();

inline uint32_t load_le32(const uint8_t *p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

// state: the running CRC register (not yet inverted at the end).
uint32_t advance_by_tables(uint32_t state, const uint8_t *data, size_t length) {
    while (length >= 8) {
        const uint32_t low = load_le32(data) ^ state;
        const uint32_t high = load_le32(data + 4);
        state = TABLES[7][low & 0xFFu] ^ TABLES[6][(low >> 8) & 0xFFu] ^ TABLES[5][(low >> 16) & 0xFFu] ^
                TABLES[4][low >> 24] ^ TABLES[3][high & 0xFFu] ^ TABLES[2][(high >> 8) & 0xFFu] ^
                TABLES[1][(high >> 16) & 0xFFu] ^ TABLES[0][high >> 24];
        data += 8;
        length -= 8;
    }
    if (length >= 4) {
        const uint32_t word = load_le32(data) ^ state;
        state = TABLES[3][word & 0xFFu] ^ TABLES[2][(word >> 8) & 0xFFu] ^ TABLES[1][(word >> 16) & 0xFFu] ^
                TABLES[0][word >> 24];
        data += 4;
        length -= 4;
    }
    while (length-- != 0) state = (state >> 8) ^ TABLES[0][(state ^ *data++) & 0xFFu];
    return state;
}

#ifdef FLOWLENS_CRC_FOLDING

constexpr size_t FOLD_BLOCK = 64;  // four 128-bit lanes folded side by side
constexpr size_t FOLD_LANE = 16;

// Folding constants of the reflected CRC-32 polynomial: x^(4*128+32) and
// x^(4*128-32) mod P for the four-lane fold, x^(128+32) and x^(128-32) mod P
// for the one-lane fold, x^64 mod P for 64 to 32 bits, then P and its Barrett
// quotient mu = floor(x^64 / P), all bit-reflected.
alignas(16) constexpr uint64_t FOLD_BY_4[2] = {0x0154442bd4ull, 0x01c6e41596ull};
alignas(16) constexpr uint64_t FOLD_BY_1[2] = {0x01751997d0ull, 0x00ccaa009eull};
alignas(16) constexpr uint64_t FOLD_TO_64[2] = {0x0163cd6124ull, 0};
alignas(16) constexpr uint64_t BARRETT[2] = {0x01db710641ull, 0x01f7011641ull};

__attribute__((target("pclmul,sse4.1"))) inline __m128i fold(__m128i lane, __m128i constants, __m128i next) {
    const __m128i low = _mm_clmulepi64_si128(lane, constants, 0x00);
    const __m128i high = _mm_clmulepi64_si128(lane, constants, 0x11);
    return _mm_xor_si128(_mm_xor_si128(high, low), next);
}

inline __m128i load(const uint8_t *p) { return _mm_loadu_si128(reinterpret_cast<const __m128i *>(p)); }

// length: at least FOLD_LANE and a multiple of it. The carry-less
// multiplication folding of Intel's "Fast CRC Computation for Generic
// Polynomials Using PCLMULQDQ", reduced to 32 bits by Barrett's method.
// Four lanes are folded side by side while a whole block remains (long
// frames), then lane by lane (the short frames of a POWERLINK cycle).
__attribute__((target("pclmul,sse4.1"))) uint32_t advance_by_folding(uint32_t state, const uint8_t *data,
                                                                     size_t length) {
    __m128i x1 = _mm_xor_si128(load(data), _mm_cvtsi32_si128(int(state)));
    __m128i k;
    if (length >= FOLD_BLOCK) {
        __m128i x2 = load(data + 16);
        __m128i x3 = load(data + 32);
        __m128i x4 = load(data + 48);
        data += FOLD_BLOCK;
        length -= FOLD_BLOCK;
        k = _mm_load_si128(reinterpret_cast<const __m128i *>(FOLD_BY_4));
        while (length >= FOLD_BLOCK) {
            x1 = fold(x1, k, load(data));
            x2 = fold(x2, k, load(data + 16));
            x3 = fold(x3, k, load(data + 32));
            x4 = fold(x4, k, load(data + 48));
            data += FOLD_BLOCK;
            length -= FOLD_BLOCK;
        }
        k = _mm_load_si128(reinterpret_cast<const __m128i *>(FOLD_BY_1));
        x1 = fold(x1, k, x2);
        x1 = fold(x1, k, x3);
        x1 = fold(x1, k, x4);
    } else {
        data += FOLD_LANE;
        length -= FOLD_LANE;
        k = _mm_load_si128(reinterpret_cast<const __m128i *>(FOLD_BY_1));
    }
    while (length >= FOLD_LANE) {
        x1 = fold(x1, k, load(data));
        data += FOLD_LANE;
        length -= FOLD_LANE;
    }

    // 128 to 64 bits.
    const __m128i low32 = _mm_setr_epi32(~0, 0, ~0, 0);
    __m128i x2 = _mm_clmulepi64_si128(x1, k, 0x10);
    x1 = _mm_xor_si128(_mm_srli_si128(x1, 8), x2);
    k = _mm_loadl_epi64(reinterpret_cast<const __m128i *>(FOLD_TO_64));
    x2 = _mm_srli_si128(x1, 4);
    x1 = _mm_xor_si128(_mm_clmulepi64_si128(_mm_and_si128(x1, low32), k, 0x00), x2);

    // Barrett reduction to 32 bits.
    k = _mm_load_si128(reinterpret_cast<const __m128i *>(BARRETT));
    x2 = _mm_clmulepi64_si128(_mm_and_si128(x1, low32), k, 0x10);
    x2 = _mm_clmulepi64_si128(_mm_and_si128(x2, low32), k, 0x00);
    x1 = _mm_xor_si128(x1, x2);
    return uint32_t(_mm_extract_epi32(x1, 1));
}

bool detect_folding() {
    __builtin_cpu_init();
    return __builtin_cpu_supports("pclmul") && __builtin_cpu_supports("sse4.1");
}

const bool FOLDING = detect_folding();

#endif

}  // namespace

uint32_t flowlens_fcs_crc32_portable(const uint8_t *data, size_t length) {
    if (data == nullptr) return 0;
    return ~advance_by_tables(~0u, data, length);
}

uint32_t flowlens_fcs_crc32(const uint8_t *data, size_t length) {
    if (data == nullptr) return 0;
    uint32_t state = ~0u;
#ifdef FLOWLENS_CRC_FOLDING
    if (FOLDING && length >= FOLD_LANE) {
        const size_t folded = length & ~(FOLD_LANE - 1);
        state = advance_by_folding(state, data, folded);
        data += folded;
        length -= folded;
    }
#endif
    return ~advance_by_tables(state, data, length);
}

bool flowlens_fcs_crc32_accelerated(void) {
#ifdef FLOWLENS_CRC_FOLDING
    return FOLDING;
#else
    return false;
#endif
}
