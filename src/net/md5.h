// SPDX-License-Identifier: GPL-3.0-or-later
// MD5 (RFC 1321) and HMAC-MD5 (RFC 2104): the digest behind the POP3 APOP
// login and the SMTP CRAM-MD5 login. Neither is used for anything that needs
// collision resistance; both are what those protocols prescribe.
#pragma once

#include <cstddef>
#include <cstdint>

inline constexpr size_t MD5_DIGEST_SIZE = 16;
inline constexpr size_t MD5_HEX_SIZE = 33; // 32 hex digits and a NUL

// Running state of one digest. Treat it as opaque; it may be copied to fork a
// digest (HMAC does that with its padded keys).
struct MD5_CONTEXT {
    uint32_t state[4];
    uint64_t bitCount; // message length so far, in bits
    uint8_t block[64]; // bytes waiting for a whole 64-byte block
};

// Starts a digest.
void Md5_Init(MD5_CONTEXT* ctx);

// Adds length bytes; any split of the input into calls gives the same digest.
// data may be null when length is 0.
void Md5_Update(MD5_CONTEXT* ctx, const void* data, size_t length);

// Pads (RFC 1321 §3.1-3.2), writes the 16-byte digest and wipes the context,
// which must be Md5_Init'ed again before reuse.
void Md5_Final(uint8_t digest[MD5_DIGEST_SIZE], MD5_CONTEXT* ctx);

// 32 lower-case hex digits, high nibble first, and a NUL.
void Md5_ToHex(char out[MD5_HEX_SIZE], const uint8_t digest[MD5_DIGEST_SIZE]);

// HMAC-MD5 of text under key (RFC 2104): a key over 64 bytes is replaced by
// its MD5 first. Either pointer may be null when its length is 0.
void HmacMd5(const void* text, size_t textLength, const void* key, size_t keyLength,
             uint8_t digest[MD5_DIGEST_SIZE]);
