#include "Firmwarefile.h"

#include <fcntl.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>

namespace tolm::devsim::firmware {

namespace {
constexpr int kTrailerTextBytes = 50;

void Put(TByteBuffer& block, int offset, const std::string& text, size_t width) {
    for (size_t i = 0; i < width && i < text.size(); ++i)
        block[offset + static_cast<int>(i)] = static_cast<uint8_t>(text[i]);
}

// Parses one decimal number of text[pos..]; advances pos.
bool ParseNumber(const std::string& text, size_t& pos, long& value) {
    size_t start = pos;
    while (pos < text.size() && std::isdigit(static_cast<unsigned char>(text[pos]))) ++pos;
    if (pos == start || pos - start > 9) return false;
    value = std::strtol(text.substr(start, pos - start).c_str(), nullptr, 10);
    return true;
}
}  // namespace

TByteBuffer TrailerBlock(const Trailer& trailer) {
    TByteBuffer block(kBlockSize, 0xFF);
    for (int i = 0; i < kTrailerTextBytes; ++i) block[i] = ' ';
    Put(block, 0, trailer.familyCode, 3);
    Put(block, 1, trailer.modelCode, 4);
    block[6] = static_cast<uint8_t>(trailer.digit6);
    block[10] = static_cast<uint8_t>(trailer.digit10);
    block[14] = static_cast<uint8_t>(trailer.digit14);
    Put(block, 18, trailer.version, 3);
    return block;
}

TByteBuffer Store(const TByteBuffer& plain) {
    TByteBuffer stored(plain.Length());
    for (int i = 0; i < plain.Length(); ++i) stored[i] = static_cast<uint8_t>(plain[i] + kStoredOffset);
    return stored;
}

TByteBuffer Unstore(const TByteBuffer& stored) {
    TByteBuffer plain(stored.Length());
    for (int i = 0; i < stored.Length(); ++i) plain[i] = static_cast<uint8_t>(stored[i] - kStoredOffset);
    return plain;
}

void FillBlock(uint8_t* block, int count, uint32_t seed) {
    // A small xorshift generator: the same seed gives the same bytes on every run.
    uint32_t x = seed * 2654435761u + 0x9E3779B9u;
    for (int i = 0; i < count; ++i) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        block[i] = static_cast<uint8_t>(x >> 24);
    }
    if (count > 0) block[0] = static_cast<uint8_t>(seed & 0x7F);  // never 0xFF: the block is not blank
}

bool ParseRanges(const std::string& text, int limit, std::vector<bool>& flags) {
    flags.assign(static_cast<size_t>(limit > 0 ? limit : 0), false);
    size_t pos = 0;
    while (pos < text.size()) {
        long first = 0, last = 0;
        if (!ParseNumber(text, pos, first)) return false;
        last = first;
        if (pos < text.size() && text[pos] == '-') {
            ++pos;
            if (!ParseNumber(text, pos, last)) return false;
        }
        if (first > last || last >= limit) return false;
        for (long n = first; n <= last; ++n) flags[static_cast<size_t>(n)] = true;
        if (pos < text.size()) {
            if (text[pos] != ',') return false;
            ++pos;
        }
    }
    return true;
}

bool ParseHexBytes(const std::string& text, int count, TByteBuffer& bytes) {
    std::string digits;
    for (char c : text) {
        if (c == ' ') continue;
        if (!std::isxdigit(static_cast<unsigned char>(c))) return false;
        digits += c;
    }
    if (static_cast<int>(digits.size()) != count * 2) return false;
    TByteBuffer out(count);
    for (int i = 0; i < count; ++i)
        out[i] = static_cast<uint8_t>(std::strtoul(digits.substr(static_cast<size_t>(i) * 2, 2).c_str(), nullptr, 16));
    bytes = out;
    return true;
}

bool WriteFileAtomically(const std::string& path, const TByteBuffer& bytes) {
    const std::string tmp = path + ".part";
    int fd = open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) return false;
    bool ok = true;
    size_t done = 0;
    while (done < static_cast<size_t>(bytes.Length())) {
        ssize_t n = write(fd, bytes.data() + done, bytes.Length() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            ok = false;
            break;
        }
        done += static_cast<size_t>(n);
    }
    if (close(fd) != 0) ok = false;
    if (ok && std::rename(tmp.c_str(), path.c_str()) != 0) ok = false;
    if (!ok) unlink(tmp.c_str());
    return ok;
}

}  // namespace tolm::devsim::firmware
