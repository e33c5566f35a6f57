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

TEST(Md5, Rfc1321TestSuite) {
    const std::pair<std::string, std::string> cases[] = {
        {"", "d41d8cd98f00b204e9800998ecf8427e"},
        {"a", "0cc175b9c0f1b6a831c399e269772661"},
        {"abc", "900150983cd24fb0d6963f7d28e17f72"},
        {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
        {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
        {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
         "d174ab98d277d9f5a5611c2c9f419d9f"},
        {"1234567890123456789012345678901234567890123456789012345678901234567890123456789"
         "0",
         "57edf4a22be3c955ac49da2e2107b67a"},
    };
    for (const auto& [in, want] : cases) {
        EXPECT_EQ(Md5Chunked(in, {}), want) << '"' << in << '"';
        // One byte at a time crosses every block and padding boundary.
        EXPECT_EQ(Md5Chunked(in, std::vector<size_t>(in.size(), 1)), want) << '"' << in << '"';
    }
}

TEST(HmacMd5, Rfc2202TestCases) {
    struct Case {
        std::string key, text, want;
    };
    std::string key4;
    for (int i = 1; i <= 25; ++i)
        key4 += static_cast<char>(i);
    const Case cases[] = {
        {std::string(16, '\x0b'), "Hi There", "9294727a3638bb1c13f48ef8158bfc9d"},
        {"Jefe", "what do ya want for nothing?", "750c783e6ab0b503eaa86e310a5db738"},
        {std::string(16, '\xaa'), std::string(50, '\xdd'), "56be34521d144c88dbb8c733f0e8b3f6"},
        {key4, std::string(50, '\xcd'), "697eaf0aca3a3aea3a75164746ffaa79"},
        {std::string(16, '\x0c'), "Test With Truncation", "56461ef2342edc00f9bab995690efd4c"},
        {std::string(80, '\xaa'), "Test Using Larger Than Block-Size Key - Hash Key First",
         "6b1ab7fe4bd7bf8f0b62e6ce61b9d0cd"},
        {std::string(80, '\xaa'),
         "Test Using Larger Than Block-Size Key and Larger Than One Block-Size Data",
         "6f630fad67cda0ee1fb1f562db3aa53e"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(HmacHex(c.key, c.text), c.want) << c.text;
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
