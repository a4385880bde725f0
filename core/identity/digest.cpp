#include "core/identity/digest.h"

#include <openssl/evp.h>
#include <zlib.h>

#include <algorithm>
#include <limits>

struct EvpState {
    EVP_MD_CTX* md5 = nullptr;
    EVP_MD_CTX* sha1 = nullptr;
    EVP_MD_CTX* sha256 = nullptr;
    EVP_MD_CTX* erasedSha1 = nullptr;

    ~EvpState()
    {
        EVP_MD_CTX_free(md5);
        EVP_MD_CTX_free(sha1);
        EVP_MD_CTX_free(sha256);
        EVP_MD_CTX_free(erasedSha1);
    }
};

static bool start(EVP_MD_CTX*& ctx, const EVP_MD* type)
{
    ctx = EVP_MD_CTX_new();
    return ctx && EVP_DigestInit_ex(ctx, type, nullptr) == 1;
}

template <size_t N>
static bool end(EVP_MD_CTX* ctx, std::array<uint8_t, N>& out)
{
    unsigned int length = 0;
    return EVP_DigestFinal_ex(ctx, out.data(), &length) == 1 && length == N;
}

static uint32_t crcOf(uint32_t crc, const uint8_t* data, size_t length)
{
    return uint32_t(crc32_z(crc, data, length));
}

MatchKey matchKeyOf(const Digests& d)
{
    MatchKey key;
    key.size = d.size;
    key.crc32 = d.crc32;
    key.sha1 = d.sha1;
    return key;
}

// Sorted, overlaps merged, empty ones dropped, so the stream can walk them
// once from the front.
static std::vector<ByteRange> normalised(std::vector<ByteRange> ranges)
{
    const uint64_t top = std::numeric_limits<uint64_t>::max();
    std::vector<ByteRange> out;
    std::sort(ranges.begin(), ranges.end(),
              [](const ByteRange& a, const ByteRange& b) { return a.start < b.start; });
    for (ByteRange r : ranges) {
        r.length = std::min(r.length, top - r.start);
        if (r.length == 0)
            continue;
        if (!out.empty() && r.start <= out.back().start + out.back().length) {
            uint64_t end = std::max(out.back().start + out.back().length, r.start + r.length);
            out.back().length = end - out.back().start;
        } else {
            out.push_back(r);
        }
    }
    return out;
}

ImageHasher::ImageHasher(std::vector<ByteRange> erased)
    : erased_(normalised(std::move(erased))),
      crc_(crcOf(0, nullptr, 0)),
      erasedCrc_(crc_),
      evp_(new EvpState)
{
    ok_ = start(evp_->md5, EVP_md5()) && start(evp_->sha1, EVP_sha1()) &&
          start(evp_->sha256, EVP_sha256());
    if (ok_ && !erased_.empty())
        ok_ = start(evp_->erasedSha1, EVP_sha1());
    head_.reserve(IMAGE_HEAD_BYTES);
}

ImageHasher::~ImageHasher()
{
    delete evp_;
}

void ImageHasher::update(const uint8_t* data, size_t length)
{
    if (finished_ || length == 0)
        return;
    if (head_.size() < IMAGE_HEAD_BYTES) {
        size_t n = std::min(length, IMAGE_HEAD_BYTES - head_.size());
        head_.insert(head_.end(), data, data + n);
    }
    if (ok_) {
        crc_ = crcOf(crc_, data, length);
        ok_ = EVP_DigestUpdate(evp_->md5, data, length) == 1 &&
              EVP_DigestUpdate(evp_->sha1, data, length) == 1 &&
              EVP_DigestUpdate(evp_->sha256, data, length) == 1;
        if (ok_ && !erased_.empty())
            feedErased(data, length);
    }
    position_ += length;
}

void ImageHasher::feedErased(const uint8_t* data, size_t length)
{
    uint64_t pos = position_;
    while (length > 0) {
        if (nextRange_ == erased_.size()) {
            feedErasedPart(data, length, false);
            return;
        }
        const ByteRange& r = erased_[nextRange_];
        uint64_t end = r.start + r.length;
        if (pos >= end) {
            nextRange_++;
            continue;
        }
        bool blank = pos >= r.start;
        size_t n = size_t(std::min<uint64_t>(length, (blank ? end : r.start) - pos));
        feedErasedPart(data, n, blank);
        erasedTouched_ = erasedTouched_ || blank;
        data += n;
        length -= n;
        pos += n;
    }
}

void ImageHasher::feedErasedPart(const uint8_t* data, size_t length, bool blank)
{
    if (!blank) {
        erasedCrc_ = crcOf(erasedCrc_, data, length);
        ok_ = ok_ && EVP_DigestUpdate(evp_->erasedSha1, data, length) == 1;
        return;
    }
    static const std::vector<uint8_t> erasedBytes(4096, 0xFF);
    while (length > 0) {
        size_t n = std::min(length, erasedBytes.size());
        erasedCrc_ = crcOf(erasedCrc_, erasedBytes.data(), n);
        ok_ = ok_ && EVP_DigestUpdate(evp_->erasedSha1, erasedBytes.data(), n) == 1;
        length -= n;
    }
}

bool ImageHasher::finish()
{
    if (finished_)
        return ok_;
    finished_ = true;
    ok_ = ok_ && end(evp_->md5, digests_.md5) && end(evp_->sha1, digests_.sha1) &&
          end(evp_->sha256, digests_.sha256);
    if (ok_ && !erased_.empty())
        ok_ = end(evp_->erasedSha1, erasedKey_.sha1);
    digests_.size = position_;
    digests_.crc32 = crc_;
    erasedKey_.size = position_;
    erasedKey_.crc32 = erasedCrc_;
    return ok_;
}

std::string toHex(const uint8_t* bytes, size_t length)
{
    static const char digits[] = "0123456789abcdef";
    std::string out;
    out.reserve(length * 2);
    for (size_t i = 0; i < length; i++) {
        out += digits[bytes[i] >> 4];
        out += digits[bytes[i] & 0xF];
    }
    return out;
}
