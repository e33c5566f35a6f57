// SPDX-License-Identifier: GPL-3.0-or-later
#include "net/md5.h"

#include <algorithm>
#include <cstring>

namespace {

// Per-round shift amounts and the sine-derived constants of RFC 1321 §3.4.
constexpr uint32_t kShift[64] = {7, 12, 17, 22, 7, 12, 17, 22, 7, 12, 17, 22, 7, 12, 17, 22,
                                 5, 9,  14, 20, 5, 9,  14, 20, 5, 9,  14, 20, 5, 9,  14, 20,
                                 4, 11, 16, 23, 4, 11, 16, 23, 4, 11, 16, 23, 4, 11, 16, 23,
                                 6, 10, 15, 21, 6, 10, 15, 21, 6, 10, 15, 21, 6, 10, 15, 21};

constexpr uint32_t kSine[64] = {
    0xd76aa478, 0xe8c7b756, 0x242070db, 0xc1bdceee, 0xf57c0faf, 0x4787c62a, 0xa8304613, 0xfd469501,
    0x698098d8, 0x8b44f7af, 0xffff5bb1, 0x895cd7be, 0x6b901122, 0xfd987193, 0xa679438e, 0x49b40821,
    0xf61e2562, 0xc040b340, 0x265e5a51, 0xe9b6c7aa, 0xd62f105d, 0x02441453, 0xd8a1e681, 0xe7d3fbc8,
    0x21e1cde6, 0xc33707d6, 0xf4d50d87, 0x455a14ed, 0xa9e3e905, 0xfcefa3f8, 0x676f02d9, 0x8d2a4c8a,
    0xfffa3942, 0x8771f681, 0x6d9d6122, 0xfde5380c, 0xa4beea44, 0x4bdecfa9, 0xf6bb4b60, 0xbebfbc70,
    0x289b7ec6, 0xeaa127fa, 0xd4ef3085, 0x04881d05, 0xd9d4d039, 0xe6db99e5, 0x1fa27cf8, 0xc4ac5665,
    0xf4292244, 0x432aff97, 0xab9423a7, 0xfc93a039, 0x655b59c3, 0x8f0ccc92, 0xffeff47d, 0x85845dd1,
    0x6fa87e4f, 0xfe2ce6e0, 0xa3014314, 0x4e0811a1, 0xf7537e82, 0xbd3af235, 0x2ad7d2bb, 0xeb86d391};

constexpr uint32_t rotl(uint32_t x, uint32_t n) {
    return (x << n) | (x >> (32 - n));
}

// Words are little-endian whatever the host's byte order.
void _transform(uint32_t state[4], const uint8_t block[64]) {
    uint32_t m[16];
    for (int i = 0; i < 16; ++i)
        m[i] = uint32_t{block[4 * i]} | uint32_t{block[4 * i + 1]} << 8 |
               uint32_t{block[4 * i + 2]} << 16 | uint32_t{block[4 * i + 3]} << 24;
    uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
    for (int i = 0; i < 64; ++i) {
        uint32_t f;
        int g;
        if (i < 16) {
            f = (b & c) | (~b & d);
            g = i;
        } else if (i < 32) {
            f = (d & b) | (~d & c);
            g = (5 * i + 1) % 16;
        } else if (i < 48) {
            f = b ^ c ^ d;
            g = (3 * i + 5) % 16;
        } else {
            f = c ^ (b | ~d);
            g = (7 * i) % 16;
        }
        const uint32_t next = b + rotl(a + f + kSine[i] + m[g], kShift[i]);
        a = d;
        d = c;
        c = b;
        b = next;
    }
    state[0] += a;
    state[1] += b;
    state[2] += c;
    state[3] += d;
}

} // namespace

void Md5_Init(MD5_CONTEXT* ctx) {
    ctx->state[0] = 0x67452301;
    ctx->state[1] = 0xefcdab89;
    ctx->state[2] = 0x98badcfe;
    ctx->state[3] = 0x10325476;
    ctx->bitCount = 0;
    std::memset(ctx->block, 0, sizeof ctx->block);
}

void Md5_Update(MD5_CONTEXT* ctx, const void* data, size_t length) {
    if (length == 0) return;
    const auto* in = static_cast<const uint8_t*>(data);
    size_t used = static_cast<size_t>((ctx->bitCount >> 3) & 63);
    ctx->bitCount += static_cast<uint64_t>(length) << 3;
    if (used > 0) {
        const size_t take = std::min(length, 64 - used);
        std::memcpy(ctx->block + used, in, take);
        used += take;
        in += take;
        length -= take;
        if (used < 64) return;
        _transform(ctx->state, ctx->block);
    }
    for (; length >= 64; in += 64, length -= 64)
        _transform(ctx->state, in);
    std::memcpy(ctx->block, in, length);
}

void Md5_Final(uint8_t digest[MD5_DIGEST_SIZE], MD5_CONTEXT* ctx) {
    uint8_t lengthBytes[8];
    for (int i = 0; i < 8; ++i)
        lengthBytes[i] = static_cast<uint8_t>(ctx->bitCount >> (8 * i));
    // One 0x80 byte, then zeros up to 56 mod 64, then the 64-bit bit count.
    static const uint8_t padding[64] = {0x80};
    const size_t used = static_cast<size_t>((ctx->bitCount >> 3) & 63);
    Md5_Update(ctx, padding, used < 56 ? 56 - used : 120 - used);
    Md5_Update(ctx, lengthBytes, sizeof lengthBytes);
    for (int i = 0; i < 4; ++i)
        for (int j = 0; j < 4; ++j)
            digest[4 * i + j] = static_cast<uint8_t>(ctx->state[i] >> (8 * j));
    // The context held key material for HMAC; leave none of it behind.
    volatile uint8_t* wipe = reinterpret_cast<volatile uint8_t*>(ctx);
    for (size_t i = 0; i < sizeof *ctx; ++i)
        wipe[i] = 0;
}

void Md5_ToHex(char out[MD5_HEX_SIZE], const uint8_t digest[MD5_DIGEST_SIZE]) {
    static constexpr char kDigits[] = "0123456789abcdef";
    for (size_t i = 0; i < MD5_DIGEST_SIZE; ++i) {
        out[2 * i] = kDigits[digest[i] >> 4];
        out[2 * i + 1] = kDigits[digest[i] & 15];
    }
    out[2 * MD5_DIGEST_SIZE] = '\0';
}

void HmacMd5(const void* text, size_t textLength, const void* key, size_t keyLength,
             uint8_t digest[MD5_DIGEST_SIZE]) {
    uint8_t keyBlock[64] = {};
    if (keyLength > sizeof keyBlock) {
        MD5_CONTEXT k;
        Md5_Init(&k);
        Md5_Update(&k, key, keyLength);
        Md5_Final(keyBlock, &k);
    } else if (keyLength > 0) {
        std::memcpy(keyBlock, key, keyLength);
    }
    uint8_t pad[64];
    for (size_t i = 0; i < sizeof pad; ++i)
        pad[i] = keyBlock[i] ^ 0x36;
    uint8_t inner[MD5_DIGEST_SIZE];
    MD5_CONTEXT ctx;
    Md5_Init(&ctx);
    Md5_Update(&ctx, pad, sizeof pad);
    Md5_Update(&ctx, text, textLength);
    Md5_Final(inner, &ctx);
    for (size_t i = 0; i < sizeof pad; ++i)
        pad[i] = keyBlock[i] ^ 0x5c;
    Md5_Init(&ctx);
    Md5_Update(&ctx, pad, sizeof pad);
    Md5_Update(&ctx, inner, sizeof inner);
    Md5_Final(digest, &ctx);
    volatile uint8_t* wipe = keyBlock;
    for (size_t i = 0; i < sizeof keyBlock; ++i)
        wipe[i] = 0;
}
