#pragma once
// Scanner firmware files for the tests: images as the flash holds them,
// trailers as text, and the +10 storage of every file byte.
#include <cstdint>
#include <string>
#include <vector>

namespace tolm::test {

constexpr int kScanImageBytes = 262144;
constexpr int kScanImageLength = 263168;

// A plain image: every block filled with a pattern unique to the block
// (never all 0xFF), except the blocks listed as blank.
inline std::vector<uint8_t> PatternImage(const std::vector<int>& blankBlocks = {}, uint8_t salt = 0) {
    std::vector<uint8_t> image(kScanImageBytes);
    for (int i = 0; i < kScanImageBytes; ++i) image[i] = static_cast<uint8_t>((i * 7 + i / 1024 + salt) % 251);
    for (int b : blankBlocks)
        for (int i = 0; i < 1024; ++i) image[b * 1024 + i] = 0xFF;
    return image;
}

inline std::vector<uint8_t> BlankImage() { return std::vector<uint8_t>(kScanImageBytes, 0xFF); }

// One image and its trailer block (trailer text first, 0xFF after), stored +10.
inline std::string StoredImage(const std::vector<uint8_t>& image, const std::string& trailer) {
    std::string out(kScanImageLength, '\0');
    for (int i = 0; i < kScanImageBytes; ++i) out[i] = static_cast<char>(image[i] + 10);
    for (int i = 0; i < 1024; ++i) {
        uint8_t plain = i < static_cast<int>(trailer.size()) ? static_cast<uint8_t>(trailer[i]) : 0xFF;
        out[kScanImageBytes + i] = static_cast<char>(plain + 10);
    }
    return out;
}

inline std::string Stored(const std::string& plain) {
    std::string out = plain;
    for (char& c : out) c = static_cast<char>(static_cast<uint8_t>(c) + 10);
    return out;
}

// Trailer texts: family code, model, digits at 6, 10 and 14, version at 18.
inline std::string Trailer(const std::string& familyDigitAndModel, char digit6, char kernel, char digit14) {
    std::string t = familyDigitAndModel + " " + digit6 + "   " + kernel + "   " + digit14 + "   100";
    return t;  // "2LB1Y 7   1   0   100": model at 1-4, digits at 6, 10, 14
}

}  // namespace tolm::test
