// Generator "quorin-firmware": a Quorin firmware file.
//
//   body (body-size bytes, default 547 * 1024) + 1024-byte identification trailer,
//   every byte stored as its value plus 10.
// Trailer (values before the +10): 0-2 family code, 3-4 the last two
// characters of the model code (offsets 1-4), 10 kernel digit, 18-20 version,
// the rest 0. The body is a pseudo-random pattern from seed; blank ranges
// ("FROM-TO,..." body offsets, TO exclusive) hold 0xFF.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "Device.h"

namespace tolm::devsim {

namespace {

constexpr long kTrailer = 1024;

// "FROM-TO,FROM-TO"; false when a range cannot be read.
bool ParseRanges(const std::string& text, std::vector<std::pair<long, long>>& ranges) {
    size_t start = 0;
    while (start < text.size()) {
        size_t comma = text.find(',', start);
        std::string item = text.substr(start, comma == std::string::npos ? std::string::npos : comma - start);
        start = comma == std::string::npos ? text.size() : comma + 1;
        char* end = nullptr;
        long from = std::strtol(item.c_str(), &end, 0);
        if (!end || *end != '-') return false;
        long to = std::strtol(end + 1, &end, 0);
        if (!end || *end != '\0' || from < 0 || to < from) return false;
        ranges.emplace_back(from, to);
    }
    return true;
}

int QuorinFirmware(const Options& options) {
    const long bodySize = options.GetInt("body-size", 547L * 1024);
    const std::string family = options.Get("family", "3QR");
    const std::string model = options.Get("model", "QR1Y");
    const std::string version = options.Get("version", "105");
    const std::string kernel = options.Get("kernel", "3");
    std::vector<std::pair<long, long>> blanks;
    if (bodySize < 0 || bodySize > (64L << 20) || family.size() != 3 || model.size() != 4 || version.size() != 3 ||
        kernel.size() != 1 || !ParseRanges(options.Get("blank"), blanks)) {
        std::fprintf(stderr,
                     "tolm-devsim: quorin-firmware: body-size 0..64 MiB, family 3 chars, model 4, version 3, "
                     "kernel 1, blank FROM-TO,...\n");
        return 2;
    }
    std::vector<uint8_t> file(static_cast<size_t>(bodySize + kTrailer), 0);
    uint32_t state = static_cast<uint32_t>(options.GetInt("seed", 1)) | 1u;
    for (long i = 0; i < bodySize; ++i) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        file[static_cast<size_t>(i)] = static_cast<uint8_t>(state);
    }
    for (auto [from, to] : blanks)
        for (long i = from; i < to && i < bodySize; ++i) file[static_cast<size_t>(i)] = 0xFF;
    uint8_t* trailer = file.data() + bodySize;
    for (int i = 0; i < 4; ++i) trailer[1 + i] = static_cast<uint8_t>(model[static_cast<size_t>(i)]);
    for (int i = 0; i < 3; ++i) trailer[i] = static_cast<uint8_t>(family[static_cast<size_t>(i)]);
    trailer[10] = static_cast<uint8_t>(kernel[0]);
    for (int i = 0; i < 3; ++i) trailer[18 + i] = static_cast<uint8_t>(version[static_cast<size_t>(i)]);
    for (auto& b : file) b = static_cast<uint8_t>(b + 10);

    const std::string out = options.Get("out");
    std::ofstream stream(out, std::ios::binary | std::ios::trunc);
    stream.write(reinterpret_cast<const char*>(file.data()), static_cast<std::streamsize>(file.size()));
    if (!stream) {
        std::fprintf(stderr, "tolm-devsim: cannot write %s\n", out.c_str());
        return 1;
    }
    return 0;
}

Registration quorinFirmwareRegistration(
    "quorin-firmware",
    "Quorin firmware file (+10 per byte, 1024-byte trailer). --set body-size=560128 version=105 kernel=3 "
    "family=3QR model=QR1Y seed=1 blank=FROM-TO,...",
    Generator(QuorinFirmware));

}  // namespace

}  // namespace tolm::devsim
