// An image's identity: its size and checksums, taken while its bytes stream
// past once, so neither a backup nor a flash ever holds the whole image.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct Digests {
    uint64_t size = 0;
    uint32_t crc32 = 0;
    std::array<uint8_t, 16> md5{};
    std::array<uint8_t, 20> sha1{};
    std::array<uint8_t, 32> sha256{};
};

// What a known-dump list can be matched on: size, CRC32 and SHA-1.
struct MatchKey {
    uint64_t size = 0;
    uint32_t crc32 = 0;
    std::array<uint8_t, 20> sha1{};
};

MatchKey matchKeyOf(const Digests& d);

// A stretch of the image, by offset from its first byte.
struct ByteRange {
    uint64_t start = 0;
    uint64_t length = 0;
};

// Bytes kept from the start of the stream: the cartridge header.
constexpr size_t IMAGE_HEAD_BYTES = 0x40;

struct EvpState;

// Feeds the checksums chunk by chunk. Given erased ranges (a played
// cartridge's save area), it also keys the same stream with those bytes
// taken as 0xFF, in the same pass, since that is how the lists hold it.
class ImageHasher {
public:
    explicit ImageHasher(std::vector<ByteRange> erased = {});
    ~ImageHasher();
    ImageHasher(const ImageHasher&) = delete;
    ImageHasher& operator=(const ImageHasher&) = delete;

    void update(const uint8_t* data, size_t length);
    // Ends the stream. False when the crypto library failed at any point:
    // then no checksum is to be trusted.
    bool finish();

    bool ok() const { return ok_; }
    const Digests& digests() const { return digests_; }
    // Only when erased ranges were given and overlap the stream.
    bool hasErasedKey() const { return erasedTouched_; }
    const MatchKey& erasedKey() const { return erasedKey_; }
    // The first IMAGE_HEAD_BYTES bytes (fewer for a shorter stream).
    const std::vector<uint8_t>& head() const { return head_; }

private:
    void feedErased(const uint8_t* data, size_t length);
    void feedErasedPart(const uint8_t* data, size_t length, bool blank);

    std::vector<ByteRange> erased_;  // sorted, merged, non-empty
    size_t nextRange_ = 0;           // first range not yet wholly behind the stream
    uint64_t position_ = 0;
    bool ok_ = true;
    bool finished_ = false;
    bool erasedTouched_ = false;
    uint32_t crc_;
    uint32_t erasedCrc_;
    EvpState* evp_;
    Digests digests_;
    MatchKey erasedKey_;
    std::vector<uint8_t> head_;
};

std::string toHex(const uint8_t* bytes, size_t length);

template <size_t N>
std::string toHex(const std::array<uint8_t, N>& bytes)
{
    return toHex(bytes.data(), N);
}
