#pragma once
// Helpers for the firmware-file generators of every family: the identification
// trailer, the +10 storage of file bytes, block contents, option parsing and
// writing a file so that no reader ever sees half of it.
#include <cstdint>
#include <string>
#include <vector>

#include "toolkit/ByteBuffer.h"

namespace tolm::devsim::firmware {

constexpr int kBlockSize = 1024;
constexpr uint8_t kStoredOffset = 10;  // every file byte is stored as its value + 10 (mod 256)

// The identification trailer as the host reads it (before storage):
// family code at 0-2, model code at 1-4 (it overlaps the family letters),
// digits at 6, 10 and 14, version at 18-20.
struct Trailer {
    std::string familyCode;       // such as "2LB", "3QR", "4KV"
    std::string modelCode;        // such as "LB1Y"; empty keeps bytes 3-4 free
    char digit6 = '0';
    char digit10 = '0';
    char digit14 = '0';
    std::string version = "100";  // three characters
};

// The 1024-byte trailer block, not yet stored: the fields above, spaces in the
// rest of the first 50 bytes (the part a host reads), 0xFF after that.
TByteBuffer TrailerBlock(const Trailer& trailer);

// Every byte plus 10 (mod 256), as the file holds it; and back.
TByteBuffer Store(const TByteBuffer& plain);
TByteBuffer Unstore(const TByteBuffer& stored);

// Deterministic, never blank (not all 0xFF) content for one block.
void FillBlock(uint8_t* block, int count, uint32_t seed);

// Parses a list of numbers and ranges such as "1-3,10,240-255" into flags for
// 0..limit-1. An empty text gives no flags. False on malformed text or a
// number outside the range.
bool ParseRanges(const std::string& text, int limit, std::vector<bool>& flags);

// Parses hex digits ("00000001", spaces allowed) into exactly count bytes.
bool ParseHexBytes(const std::string& text, int count, TByteBuffer& bytes);

// Writes the bytes through a temporary file renamed into place. False (and no
// file left behind) on failure.
bool WriteFileAtomically(const std::string& path, const TByteBuffer& bytes);

}  // namespace tolm::devsim::firmware
