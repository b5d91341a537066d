// The family classes' file readers: trailer checks (CheckUpgradeFileVer) and
// the loaders that cut a firmware, font or terminal file into frames.
// Input: byte 0 picks the reader (value % 6) and its variant (value / 6); the
// rest is the file. For the scanner TID readers the file is placed behind a
// hole of one image (262144 zero bytes), so that the trailer of the first
// image and the blocks of the second come from the input.
// Properties: every reader returns one of its documented codes, changes its
// fields only on success, and each frame it builds is exactly the frame of
// the file bytes at its offset (minus 10 where the family stores them so,
// filled past the end of the file).
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "protocol/Frame.h"
#include "protocol/Kv_packet.h"
#include "protocol/Quorin_packet.h"
#include "protocol/Scan_packet.h"
#include "protocol/Scan_tid_packet.h"

namespace {

using namespace tolm;

const fuzz::TScratchFile& Scratch() {
    static fuzz::TScratchFile file("firmware.bin");
    return file;
}

// The file as the readers see it: `hole` zero bytes, then the input.
struct TFile {
    std::string path;
    int64_t hole = 0;
    const uint8_t* data = nullptr;
    int64_t size = 0;  // input bytes
    int64_t Length() const { return hole + size; }
    // The byte at file offset `at`, or -1 past the end.
    int At(int64_t at) const {
        if (at < 0 || at >= Length()) return -1;
        return at < hole ? 0 : data[at - hole];
    }
};

TFile WriteFile(const uint8_t* data, size_t size, int64_t hole) {
    const std::string& path = Scratch().Path();
    if (hole == 0) {
        Scratch().Write(data, size);
    } else {
        int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        FUZZ_CHECK(fd >= 0 && ftruncate(fd, hole) == 0, "cannot make the sparse scratch file");
        FUZZ_CHECK(pwrite(fd, data, size, hole) == static_cast<ssize_t>(size), "cannot write the scratch file");
        close(fd);
    }
    return TFile{path, hole, data, static_cast<int64_t>(size)};
}

uint8_t Minus10(int b) { return static_cast<uint8_t>(b - 10); }

// header + count bytes of the file at offset (each minus 10 if asked), `fill`
// past its end, framed. Built on plain memory: it runs for every block.
TByteBuffer ExpectedFrame(const TByteBuffer& header, const TFile& f, int64_t offset, int count, bool minus10,
                          uint8_t fill) {
    const int h = header.Length();
    std::vector<uint8_t> out(static_cast<size_t>(h + count + 4), fill);
    out[0] = out[1] = frame::kFlag;
    std::copy(header.begin(), header.end(), out.begin() + 2);
    uint8_t* data = out.data() + 2 + h;
    // Zero bytes of the hole, then the input's bytes; the rest stays `fill`.
    const int64_t end = std::min<int64_t>(offset + count, f.Length());
    for (int64_t at = offset; at < end; ++at) {
        const uint8_t b = at < f.hole ? 0 : f.data[at - f.hole];
        data[at - offset] = minus10 ? Minus10(b) : b;
    }
    out[2 + h + count] = frame::CheckByte(out.data() + 2, h + count);
    out[3 + h + count] = frame::kFlag;
    return TByteBuffer(std::move(out));
}

TByteBuffer BlockHeader(int block, int size) {
    TByteBuffer h{0x01};
    h.Append(frame::BigEndian16(block));
    h.Append(frame::BigEndian16(size));
    return h;
}

bool AllBlank(const TByteBuffer& frame, int dataStart, int count) {
    const uint8_t* p = frame.data() + dataStart;
    return std::all_of(p, p + count, [](uint8_t b) { return b == 0xFF; });
}

// --------------------------------------------------------------- scanners

// A trailer at file offset `at` needs its 21 bytes there; one counted from the
// end of the file also needs a whole 1024-byte block before the end.
void CheckScannerTrailer(int r, const TFile& f, int64_t at, const std::string& model, uint8_t kernel) {
    if (f.Length() < at + 21 || at < 0) {
        FUZZ_CHECK(r == -1, "a file without a whole trailer passed the scanner check");
        return;
    }
    FUZZ_CHECK(r == 0, "a whole scanner trailer was refused");
    std::string expected;
    for (int i = 1; i <= 4; ++i) expected += static_cast<char>(Minus10(f.At(at + i)));
    FUZZ_CHECK(model == expected, "scanner model code is not trailer bytes 1-4");
    FUZZ_CHECK(kernel == static_cast<uint8_t>(Minus10(f.At(at + 10)) - '0'), "scanner kernel digit is not byte 10");
}

void Scanner(const TFile& f) {
    TScan_Packet scan;
    scan.ModelCode = "keep";
    const int r = scan.CheckUpgradeFileVer(f.path);
    CheckScannerTrailer(r, f, f.Length() >= 1045 ? f.Length() - 1024 : -1, scan.ModelCode, scan.KernelDigit);
    if (r != 0) FUZZ_CHECK(scan.ModelCode == "keep", "a refused scanner trailer changed the fields");

    scan.LoadFileToMemory(f.path);
    for (int i = 0; i < scanimage::kBlockCount; ++i) {
        TByteBuffer header{0x01, 0x70};
        header.Append(BlockHeader(i, 1024));
        const TByteBuffer expected = ExpectedFrame(header, f, int64_t{i} * 1024, 1024, true, 0xFF);
        FUZZ_CHECK(scan.BlockPacket[i] == expected, "scanner block frame is not the file's block");
        const bool blank = AllBlank(expected, 2 + header.Length(), 1024);
        FUZZ_CHECK(scan.SkipBlock[i] == ((blank && i % 4 != 0 && i <= 240) ? 1 : 0), "scanner skip flag");
    }
}

void ScannerTid(const TFile& f, int variant) {
    TScan_TID_Packet tid;
    tid.ModelCode = "keep";
    tid.ImageOffset = (variant & 1) ? TScan_TID_Packet::kSecondImageOffset : 0;
    const int r = tid.CheckUpgradeFileVer(f.path);
    CheckScannerTrailer(r, f, (int64_t{tid.ImageOffset} + 256) * 1024, tid.ModelCode, tid.KernelDigit);
    if (r != 0) FUZZ_CHECK(tid.ModelCode == "keep", "a refused TID trailer changed the fields");

    // Without a terminal ID nothing may be loaded; with one, every block.
    if (variant & 2) {
        tid.LoadFileToMemory70(f.path);
        for (int i = 0; i < scanimage::kBlockCount; ++i)
            FUZZ_CHECK(tid.BlockPacket[i].IsEmpty() && tid.SkipBlock[i] == 0, "TID blocks loaded without an ID");
        return;
    }
    tid.TerminalID = TByteBuffer{0x12, 0x34, 0x56, static_cast<uint8_t>(variant)};
    const uint8_t command = (variant & 4) ? 0x75 : 0x70;
    if (command == 0x75)
        tid.LoadFileToMemory75(f.path);
    else
        tid.LoadFileToMemory70(f.path);
    for (int i = 0; i < scanimage::kBlockCount; ++i) {
        const TByteBuffer header = frame::AddressedPayload(0x01, tid.TerminalID, command, BlockHeader(i, 1024));
        const int64_t offset = (int64_t{tid.ImageOffset} + i) * 1024;
        const TByteBuffer expected = ExpectedFrame(header, f, offset, 1024, true, 0xFF);
        FUZZ_CHECK(tid.BlockPacket[i] == expected, "TID block frame is not the file's block");
        const bool blank = AllBlank(expected, 2 + header.Length(), 1024);
        FUZZ_CHECK(tid.SkipBlock[i] == ((blank && i % 4 != 0 && i <= 240) ? 1 : 0), "TID skip flag");
    }

    if (variant & 8) {
        // The two halves of a two-image file, as stored.
        FUZZ_CHECK(tid.DecomposeRomFile(f.path, Scratch().Dir()) == 0, "splitting a readable file failed");
        for (const auto& [name, from] : {std::pair{"Scan.BIN", int64_t{0}}, std::pair{"Dock.BIN", int64_t{263168}}}) {
            std::ifstream in(Scratch().Dir() + "/" + name, std::ios::binary);
            const std::string half((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
            const int64_t expectedSize = std::clamp<int64_t>(f.Length() - from, 0, 263168);
            FUZZ_CHECK(static_cast<int64_t>(half.size()) == expectedSize, "split half of the wrong size");
            for (int64_t k = std::max<int64_t>(0, f.hole - from); k < expectedSize; ++k)
                FUZZ_CHECK(static_cast<uint8_t>(half[k]) == f.At(from + k), "split half differs from the file");
        }
    }
}

// ----------------------------------------------------------------- Quorin

void QuorinFirmware(const TFile& f, int variant) {
    TQuorin_Packet q;
    q.KernelDigit = 0xAB;
    const int r = q.CheckUpgradeFileVer(f.path);
    const int64_t at = f.Length() >= 1024 ? f.Length() - 1024 : 0;
    if (f.Length() - at < 21) {
        FUZZ_CHECK(r == -2, "a Quorin trailer without a version passed");
    } else {
        std::string version;
        for (int i = 18; i <= 20; ++i) version += static_cast<char>(Minus10(f.At(at + i)));
        FUZZ_CHECK(r == (version < "105" ? -2 : 0), "Quorin version test");
        if (r == 0) FUZZ_CHECK(q.KernelDigit == static_cast<uint8_t>(Minus10(f.At(at + 10)) - '0'), "Quorin kernel");
    }
    if (r != 0) FUZZ_CHECK(q.KernelDigit == 0xAB, "a refused Quorin trailer changed the kernel digit");

    if (variant & 1) {
        FUZZ_CHECK(q.LoadFileToMemory(f.path) == -2, "Quorin firmware loaded without a terminal ID");
        for (const TByteBuffer& entry : q.BlockPacket) FUZZ_CHECK(entry.IsEmpty(), "Quorin frame without an ID");
        return;
    }
    q.TerminalID = TByteBuffer{0x00, 0x00, 0x00, static_cast<uint8_t>(variant)};
    FUZZ_CHECK(q.LoadFileToMemory(f.path) == 0, "Quorin firmware load failed");
    for (int i = 0; i < TQuorin_Packet::kFirmwarePackets; ++i) {
        const TByteBuffer header = frame::AddressedPayload(0x03, q.TerminalID, 0x70, BlockHeader(i, 1024));
        FUZZ_CHECK(q.BlockPacket[i] == ExpectedFrame(header, f, int64_t{i} * 1024, 1024, true, 0xFF),
                   "Quorin firmware frame is not the file's block");
    }
}

void QuorinFile(const TFile& f, int variant) {
    TQuorin_Packet q;
    const int blocks = static_cast<int>((f.Length() + 4095) / 4096);
    if (variant & 1) {
        FUZZ_CHECK(q.LoadFilesToMemory(f.path) == -3, "terminal file loaded without a terminal ID");
        return;
    }
    q.TerminalID = TByteBuffer{0x00, 0x00, 0x02, static_cast<uint8_t>(variant)};
    FUZZ_CHECK(q.LoadFilesToMemory(f.path) == blocks, "terminal file block count");
    for (int i = 0; i < blocks; ++i) {
        const int n = static_cast<int>(std::min<int64_t>(4096, f.Length() - int64_t{i} * 4096));
        TByteBuffer data{0x01};
        data.Append(frame::BigEndian16(i));
        data.Append(static_cast<uint8_t>(n / 4096));
        data.Append(static_cast<uint8_t>(n % 4096));
        const TByteBuffer header = frame::AddressedPayload(0x03, q.TerminalID, 0x61, data);
        FUZZ_CHECK(q.BlockPacket[i] == ExpectedFrame(header, f, int64_t{i} * 4096, 4096, false, 0x00),
                   "terminal file frame is not the file's block");
    }
}

// --------------------------------------------------------------------- KV

void KvFirmware(const TFile& f) {
    TKV_Packet kv;
    kv.KernelDigit = 0xAB;
    const int r = kv.CheckUpgradeFileVer(f.path);
    const int64_t at = f.Length() >= 1024 ? f.Length() - 1024 : 0;
    if (f.Length() - at <= 10) {
        FUZZ_CHECK(r == -1 && kv.KernelDigit == 0xAB, "a KV trailer without its kernel digit passed");
    } else {
        FUZZ_CHECK(r == 0 && kv.KernelDigit == static_cast<uint8_t>(Minus10(f.At(at + 10)) - '0'), "KV kernel digit");
    }

    FUZZ_CHECK(kv.LoadFileToMemory(f.path) == 0, "KV firmware load failed");
    for (int i = 0; i < TKV_Packet::kBlockCount; ++i) {
        const TByteBuffer header = frame::AddressedPayload(0x04, kv.TerminalID, 0x70, BlockHeader(4 * i, 4096));
        const TByteBuffer expected = ExpectedFrame(header, f, int64_t{i} * 4096, 4096, true, 0xFF);
        FUZZ_CHECK(kv.BlockPacket[i] == expected, "KV firmware frame is not the file's block");
        FUZZ_CHECK(kv.SkipBlock[i] == (AllBlank(expected, 2 + header.Length(), 4096) ? 1 : 0), "KV skip flag");
    }
}

void KvFont(const TFile& f, int variant) {
    TKV_Packet kv;
    // The window stores the file's size before loading; a stale size is tried too.
    kv.FirmwareSize = (variant & 1) ? static_cast<int32_t>(variant * 8 * 4096) : static_cast<int32_t>(f.Length());
    const int count = kv.FontEntryCount();
    const int r = kv.LoadFileToMemoryFont(f.path);
    if (count > TKV_Packet::kFontMaxEntries) {
        FUZZ_CHECK(r == -2, "an oversized font was loaded");
        return;
    }
    FUZZ_CHECK(r == 0, "font load failed");
    for (int i = 0; i < count; ++i) {
        const TByteBuffer header =
            frame::AddressedPayload(0x04, kv.TerminalID, 0x70, BlockHeader(512 + 4 * i, 4096));
        FUZZ_CHECK(kv.BlockPacket[i] == ExpectedFrame(header, f, int64_t{i} * 4096, 4096, false, 0xFF),
                   "font frame is not the file's block");
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    const int mode = data[0] % 6;
    const int variant = data[0] / 6;
    const int64_t hole = mode == 1 ? scanimage::kImageBytes : 0;
    const TFile f = WriteFile(data + 1, size - 1, hole);
    switch (mode) {
        case 0: Scanner(f); break;
        case 1: ScannerTid(f, variant); break;
        case 2: QuorinFirmware(f, variant); break;
        case 3: QuorinFile(f, variant); break;
        case 4: KvFirmware(f); break;
        case 5: KvFont(f, variant); break;
    }
    return 0;
}
