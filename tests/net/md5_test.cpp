// SPDX-License-Identifier: GPL-3.0-or-later
#include "net/md5.h"

#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>

#include <random>
#include <string>
#include <vector>

namespace {

std::string Hex(const uint8_t* digest) {
    char hex[MD5_HEX_SIZE];
    Md5_ToHex(hex, digest);
    return hex;
}

// Feeds data in the given chunk lengths (the rest in one piece).
std::string Md5Chunked(const std::string& data, const std::vector<size_t>& chunks) {
    MD5_CONTEXT ctx;
    Md5_Init(&ctx);
    size_t at = 0;
    for (size_t n : chunks) {
        n = std::min(n, data.size() - at);
        Md5_Update(&ctx, data.data() + at, n);
        at += n;
    }
    Md5_Update(&ctx, data.data() + at, data.size() - at);
    uint8_t digest[MD5_DIGEST_SIZE];
    Md5_Final(digest, &ctx);
    return Hex(digest);
}

std::string HmacHex(const std::string& key, const std::string& text) {
    uint8_t digest[MD5_DIGEST_SIZE];
    HmacMd5(text.data(), text.size(), key.data(), key.size(), digest);
    return Hex(digest);
}

std::string OpenSslMd5(const std::string& data) {
    unsigned char md[EVP_MAX_MD_SIZE];
    unsigned n = 0;
    EVP_Digest(data.data(), data.size(), md, &n, EVP_md5(), nullptr);
    return Hex(md);
}

std::string OpenSslHmac(const std::string& key, const std::string& data) {
    unsigned char md[EVP_MAX_MD_SIZE];
    unsigned n = 0;
    HMAC(EVP_md5(), key.data(), static_cast<int>(key.size()),
         reinterpret_cast<const unsigned char*>(data.data()), data.size(), md, &n);
    return Hex(md);
}

std::string RandomBytes(std::mt19937& rng, size_t n) {
    std::string s(n, '\0');
    for (auto& c : s)
        c = static_cast<char>(rng());
    return s;
}

TEST(Md5, MatchesOpenSslOnRandomInputsSplitAnyhow) {
    std::mt19937 rng(20261206);
    for (int round = 0; round < 400; ++round) {
        // Mostly short lengths around the block and padding edges, some long.
        const size_t len = round % 10 == 0 ? rng() % 100000 : rng() % 300;
        const std::string data = RandomBytes(rng, len);
        std::vector<size_t> chunks;
        for (size_t left = len; left > 0;) {
            const size_t n = std::min<size_t>(left, rng() % 130);
            chunks.push_back(n);
            left -= n;
        }
        ASSERT_EQ(Md5Chunked(data, chunks), OpenSslMd5(data)) << "length " << len;
    }
}

TEST(HmacMd5, MatchesOpenSslOnRandomKeysAndTexts) {
    std::mt19937 rng(7);
    for (int round = 0; round < 300; ++round) {
        // Keys on both sides of the 64-byte block, empty ones included.
        const std::string key = RandomBytes(rng, rng() % 150);
        const std::string text = RandomBytes(rng, rng() % 400);
        ASSERT_EQ(HmacHex(key, text), OpenSslHmac(key, text))
            << "key " << key.size() << ", text " << text.size();
    }
}

} // namespace
