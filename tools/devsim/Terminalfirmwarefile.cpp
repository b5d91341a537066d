// Generators "quorin-firmware", "kv-firmware" and "kv-font".
//
// quorin-firmware: body (default 547 KiB) + 1024-byte trailer, every byte
//   stored plus 10; the trailer as below plus the version at 18-20.
// kv-firmware: body (body-size bytes, default 64 KiB) + 1024-byte trailer,
//   every byte stored as its value plus 10. Trailer (values before the +10):
//   0-2 family code, 3-4 the end of the model code (offsets 1-4), 10 kernel
//   digit, the rest 0.
// kv-font: size bytes (default 4096), stored as they are.
// All: a pseudo-random pattern from seed; blank ranges ("FROM-TO,..." file
// offsets, TO exclusive) hold the value 0xFF, so that whole 4096-byte entries
// inside them are blank and never sent.
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

// Pattern bytes with the blank ranges set to 0xFF; false for bad options.
bool Content(const Options& options, long size, std::vector<uint8_t>& bytes) {
    std::vector<std::pair<long, long>> blanks;
    if (size < 0 || size > (64L << 20) || !ParseRanges(options.Get("blank"), blanks)) return false;
    bytes.assign(static_cast<size_t>(size), 0);
    uint32_t state = static_cast<uint32_t>(options.GetInt("seed", 1)) | 1u;
    for (auto& b : bytes) {
        state ^= state << 13;
        state ^= state >> 17;
        state ^= state << 5;
        b = static_cast<uint8_t>(state);
    }
    for (auto [from, to] : blanks)
        for (long i = from; i < to && i < size; ++i) bytes[static_cast<size_t>(i)] = 0xFF;
    return true;
}

int Write(const std::string& out, const std::vector<uint8_t>& bytes) {
    std::ofstream stream(out, std::ios::binary | std::ios::trunc);
    stream.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!stream) {
        std::fprintf(stderr, "tolm-devsim: cannot write %s\n", out.c_str());
        return 1;
    }
    return 0;
}

// The trailer's family code (0-2), model code (1-4) and kernel digit (10),
// before the +10 storage; returns the trailer's start.
uint8_t* WriteTrailerFields(std::vector<uint8_t>& file, long bodySize, const std::string& family,
                            const std::string& model, const std::string& kernel) {
    uint8_t* trailer = file.data() + bodySize;
    for (int i = 0; i < 4; ++i) trailer[1 + i] = static_cast<uint8_t>(model[static_cast<size_t>(i)]);
    for (int i = 0; i < 3; ++i) trailer[i] = static_cast<uint8_t>(family[static_cast<size_t>(i)]);
    trailer[10] = static_cast<uint8_t>(kernel[0]);
    return trailer;
}

int QuorinFirmware(const Options& options) {
    const long bodySize = options.GetInt("body-size", 547L * 1024);
    const std::string family = options.Get("family", "3QR");
    const std::string model = options.Get("model", "QR1Y");
    const std::string version = options.Get("version", "105");
    const std::string kernel = options.Get("kernel", "3");
    std::vector<uint8_t> file;
    if (family.size() != 3 || model.size() != 4 || version.size() != 3 || kernel.size() != 1 ||
        !Content(options, bodySize, file)) {
        std::fprintf(stderr,
                     "tolm-devsim: quorin-firmware: body-size 0..64 MiB, family 3 chars, model 4, version 3, "
                     "kernel 1, blank FROM-TO,...\n");
        return 2;
    }
    file.resize(static_cast<size_t>(bodySize + kTrailer), 0);
    uint8_t* trailer = WriteTrailerFields(file, bodySize, family, model, kernel);
    for (int i = 0; i < 3; ++i) trailer[18 + i] = static_cast<uint8_t>(version[static_cast<size_t>(i)]);
    for (auto& b : file) b = static_cast<uint8_t>(b + 10);
    return Write(options.Get("out"), file);
}

int KvFirmware(const Options& options) {
    const long bodySize = options.GetInt("body-size", 64L * 1024);
    const std::string family = options.Get("family", "4KV");
    const std::string model = options.Get("model", "KV1Y");
    const std::string kernel = options.Get("kernel", "3");
    std::vector<uint8_t> file;
    if (family.size() != 3 || model.size() != 4 || kernel.size() != 1 || !Content(options, bodySize, file)) {
        std::fprintf(stderr,
                     "tolm-devsim: kv-firmware: body-size 0..64 MiB, family 3 chars, model 4, kernel 1, "
                     "blank FROM-TO,...\n");
        return 2;
    }
    file.resize(static_cast<size_t>(bodySize + kTrailer), 0);
    WriteTrailerFields(file, bodySize, family, model, kernel);
    for (auto& b : file) b = static_cast<uint8_t>(b + 10);
    return Write(options.Get("out"), file);
}

int KvFont(const Options& options) {
    std::vector<uint8_t> file;
    if (!Content(options, options.GetInt("size", 4096), file)) {
        std::fprintf(stderr, "tolm-devsim: kv-font: size 0..64 MiB, blank FROM-TO,...\n");
        return 2;
    }
    return Write(options.Get("out"), file);
}

Registration quorinFirmwareRegistration(
    "quorin-firmware",
    "Quorin firmware file (+10 per byte, 1024-byte trailer). --set body-size=560128 version=105 kernel=3 "
    "family=3QR model=QR1Y seed=1 blank=FROM-TO,...",
    Generator(QuorinFirmware));

Registration kvFirmwareRegistration(
    "kv-firmware",
    "KV firmware file (+10 per byte, 1024-byte trailer). --set body-size=65536 kernel=3 family=4KV model=KV1Y "
    "seed=1 blank=FROM-TO,...",
    Generator(KvFirmware));
Registration kvFontRegistration("kv-font", "KV font file (bytes as stored). --set size=4096 seed=1 blank=FROM-TO,...",
                                Generator(KvFont));

}  // namespace

}  // namespace tolm::devsim
