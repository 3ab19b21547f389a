#include "fcs_crc32.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstring>
#include <random>
#include <vector>

namespace {

uint32_t zlib_crc(const uint8_t *data, size_t length) { return uint32_t(crc32(0L, data, uInt(length))); }

std::vector<uint8_t> random_bytes(size_t size, uint32_t seed) {
    std::mt19937 generator(seed);
    std::vector<uint8_t> bytes(size);
    for (auto &b : bytes) b = uint8_t(generator());
    return bytes;
}

TEST(FcsCrc32, CheckValueOfTheStandard) {
    const char *digits = "123456789";
    const auto *data = reinterpret_cast<const uint8_t *>(digits);
    EXPECT_EQ(flowlens_fcs_crc32(data, 9), 0xCBF43926u);
    EXPECT_EQ(flowlens_fcs_crc32_portable(data, 9), 0xCBF43926u);
}

TEST(FcsCrc32, EmptyAndMissingInput) {
    const uint8_t byte = 0;
    EXPECT_EQ(flowlens_fcs_crc32(&byte, 0), 0u);
    EXPECT_EQ(flowlens_fcs_crc32(nullptr, 10), 0u);
    EXPECT_EQ(flowlens_fcs_crc32_portable(nullptr, 10), 0u);
}

// Every length from a runt to beyond a full-size frame, at every alignment:
// the folding path's block, lane and tail boundaries (64, 16 and the bytes
// after the last lane) all fall somewhere in this range.
TEST(FcsCrc32, MatchesZlibAtEveryLengthAndAlignment) {
    const auto bytes = random_bytes(1600 + 16, 7);
    for (size_t offset = 0; offset < 16; ++offset) {
        for (size_t length = 0; length <= 1600; ++length) {
            const uint8_t *data = bytes.data() + offset;
            const uint32_t expected = zlib_crc(data, length);
            ASSERT_EQ(flowlens_fcs_crc32(data, length), expected) << "offset " << offset << " length " << length;
            ASSERT_EQ(flowlens_fcs_crc32_portable(data, length), expected)
                << "offset " << offset << " length " << length;
        }
    }
}

TEST(FcsCrc32, MatchesZlibOnJumboAndUniformFrames) {
    const auto jumbo = random_bytes(9018, 11);
    EXPECT_EQ(flowlens_fcs_crc32(jumbo.data(), jumbo.size()), zlib_crc(jumbo.data(), jumbo.size()));
    for (uint8_t fill : {uint8_t(0x00), uint8_t(0xFF), uint8_t(0x55)}) {
        std::vector<uint8_t> uniform(1514, fill);
        EXPECT_EQ(flowlens_fcs_crc32(uniform.data(), uniform.size()), zlib_crc(uniform.data(), uniform.size()))
            << "fill " << int(fill);
    }
}

// A frame with its FCS appended: the CRC of the frame, then the CRC over the
// frame and its FCS is the fixed residue of the polynomial, so a single
// flipped bit anywhere breaks the match.
TEST(FcsCrc32, DetectsEverySingleBitErrorOfAFrame) {
    auto frame = random_bytes(124, 3);
    const uint32_t fcs = flowlens_fcs_crc32(frame.data(), frame.size() - 4);
    std::memcpy(frame.data() + frame.size() - 4, &fcs, 4);  // little-endian host, as on the wire
    EXPECT_EQ(flowlens_fcs_crc32(frame.data(), frame.size()), 0x2144DF1Cu);
    for (size_t bit = 0; bit < (frame.size() - 4) * 8; ++bit) {
        frame[bit / 8] ^= uint8_t(1u << (bit % 8));
        ASSERT_NE(flowlens_fcs_crc32(frame.data(), frame.size() - 4), fcs) << "bit " << bit;
        frame[bit / 8] ^= uint8_t(1u << (bit % 8));
    }
}

}  // namespace
