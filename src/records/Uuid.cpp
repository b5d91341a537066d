#include "records/Uuid.h"

#include <array>
#include <cstdint>
#include <cctype>
#include <cstring>

#include "records/Systemservices.h"

namespace tolm::records {

namespace {
using TBytes = std::array<uint8_t, 16>;

// The namespace of this program's name-based attempt IDs (a random UUID of its own).
constexpr TBytes kAttemptNamespace = {0x6b, 0x1f, 0x52, 0x0e, 0x8d, 0x3a, 0x4c, 0x61,
                                      0x9a, 0x27, 0xe4, 0x0b, 0x5c, 0xd8, 0x73, 0x19};

std::string Text(TBytes bytes, int version) {
    bytes[6] = static_cast<uint8_t>((bytes[6] & 0x0F) | (version << 4));
    bytes[8] = static_cast<uint8_t>((bytes[8] & 0x3F) | 0x80);  // the RFC 4122 variant
    static const char digits[] = "0123456789abcdef";
    std::string text;
    for (size_t i = 0; i < bytes.size(); ++i) {
        if (i == 4 || i == 6 || i == 8 || i == 10) text += '-';
        text += digits[bytes[i] >> 4];
        text += digits[bytes[i] & 0x0F];
    }
    return text;
}

uint32_t Rotate(uint32_t value, int bits) { return (value << bits) | (value >> (32 - bits)); }

// SHA-1, which version 5 names; here it only spreads names over IDs.
std::array<uint8_t, 20> Sha1(const std::string& message) {
    uint32_t h[5] = {0x67452301, 0xEFCDAB89, 0x98BADCFE, 0x10325476, 0xC3D2E1F0};
    std::string data = message;
    data += static_cast<char>(0x80);
    while (data.size() % 64 != 56) data += '\0';
    const uint64_t bits = static_cast<uint64_t>(message.size()) * 8;
    for (int shift = 56; shift >= 0; shift -= 8) data += static_cast<char>((bits >> shift) & 0xFF);
    for (size_t block = 0; block < data.size(); block += 64) {
        uint32_t w[80];
        for (int i = 0; i < 16; ++i) {
            const auto* p = reinterpret_cast<const uint8_t*>(data.data() + block + 4 * i);
            w[i] = (uint32_t{p[0]} << 24) | (uint32_t{p[1]} << 16) | (uint32_t{p[2]} << 8) | p[3];
        }
        for (int i = 16; i < 80; ++i) w[i] = Rotate(w[i - 3] ^ w[i - 8] ^ w[i - 14] ^ w[i - 16], 1);
        uint32_t a = h[0], b = h[1], c = h[2], d = h[3], e = h[4];
        for (int i = 0; i < 80; ++i) {
            const uint32_t f = i < 20 ? (b & c) | (~b & d) : i < 40 ? b ^ c ^ d : i < 60 ? (b & c) | (b & d) | (c & d) : b ^ c ^ d;
            const uint32_t k = i < 20 ? 0x5A827999 : i < 40 ? 0x6ED9EBA1 : i < 60 ? 0x8F1BBCDC : 0xCA62C1D6;
            const uint32_t next = Rotate(a, 5) + f + e + k + w[i];
            e = d;
            d = c;
            c = Rotate(b, 30);
            b = a;
            a = next;
        }
        h[0] += a;
        h[1] += b;
        h[2] += c;
        h[3] += d;
        h[4] += e;
    }
    std::array<uint8_t, 20> digest{};
    for (int i = 0; i < 20; ++i) digest[i] = static_cast<uint8_t>(h[i / 4] >> (24 - 8 * (i % 4)));
    return digest;
}
}  // namespace

std::string NewAttemptId() {
    TBytes bytes{};
    if (!RandomBytes(bytes.data(), bytes.size())) return {};
    return Text(bytes, 4);
}

std::string NameBasedId(const std::string& name) {
    const std::string message(reinterpret_cast<const char*>(kAttemptNamespace.data()), kAttemptNamespace.size());
    const auto digest = Sha1(message + name);
    TBytes bytes{};
    std::memcpy(bytes.data(), digest.data(), bytes.size());
    return Text(bytes, 5);
}

bool IsUuid(const std::string& text) {
    if (text.size() != 36) return false;
    for (size_t i = 0; i < text.size(); ++i) {
        const bool dash = i == 8 || i == 13 || i == 18 || i == 23;
        if (dash != (text[i] == '-')) return false;
        if (!dash && !std::isxdigit(static_cast<unsigned char>(text[i]))) return false;
    }
    return true;
}

}  // namespace tolm::records
