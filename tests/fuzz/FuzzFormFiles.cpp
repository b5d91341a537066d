// The window's checks of a chosen file: family identification from the
// trailer, the firmware file check with each family's trailer reader, and the
// font file check. One window serves every input, as one serves every choice
// an operator makes.
// Input: the file.
// Properties: the family is the one the decoded trailer names; a check that
// rejects a scanner or Quorin file says why in exactly one message and one
// that accepts it shows none; an unknown family is never rejected; the file
// line shows the file name, or nothing after a rejection; a font check always
// selects the KV family.
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>

#include "FuzzSupport.h"
#include "app/Unit1.h"
#include "protocol/Kv_packet.h"
#include "protocol/Quorin_packet.h"
#include "protocol/Scan_packet.h"
#include "toolkit/MainThread.h"

namespace {

using namespace tolm;

struct TWorld {
    std::unique_ptr<fuzz::TScratchFile> file;
    std::shared_ptr<fuzz::TCountingSink> sink;
    std::unique_ptr<TForm1> form;
};
TWorld* g_world = nullptr;

// The family code the trailer's first three bytes name (each stored + 10),
// from 1024 bytes before the end, or from the start of a shorter file.
std::string DecodedCode(const uint8_t* data, size_t size) {
    const size_t at = size >= 1024 ? size - 1024 : 0;
    std::string code;
    for (size_t i = at; i < size && i < at + 3; ++i) code += static_cast<char>(data[i] - 10);
    return code;
}

int FamilyOf(const std::string& code) {
    if (code == "3QR") return 3;
    if (code == "4KV") return 4;
    if (code == "2LB" || code == "2ND" || code == "2TW" || code == "2GH") return 2;
    return 0;
}

void CheckFirmware(TForm1& form, fuzz::TCountingSink& sink, const uint8_t* data, size_t size) {
    const std::string& path = g_world->file->Path();
    form.FamilyCode = "old";
    form.FirmwareFile = path;
    sink.Count = 0;
    form.Error.SetCaption("");
    form.CheckFirmwareFile();

    const std::string code = size > 0 ? DecodedCode(data, size) : "old";
    const int family = FamilyOf(code);
    FUZZ_CHECK(form.FamilyCode == code, "FamilyCode is not the decoded trailer code");
    FUZZ_CHECK(form.FirmwareFamily == family, "family number does not follow the family code");
    FUZZ_CHECK(form.Label1.Caption() == "Fimrware種類 [" + std::to_string(family) + "]", "note line");

    const bool kept = form.FirmwareFile == path;
    FUZZ_CHECK(kept || form.FirmwareFile.empty(), "the check changed the file name");
    FUZZ_CHECK(form.Path.Caption() == (kept ? "firmware.bin" : ""), "file line is not the file name");
    if (family == 0) FUZZ_CHECK(kept && sink.Count == 0, "a file of unknown family was rejected");
    // A first-generation scanner file shorter than one image is refused on the
    // result line; every other scanner or Quorin refusal shows one message.
    const bool firstGen = family == 2 && (code == "2LB" || code == "2ND");
    const bool refusedAsTooShort = firstGen && !kept && sink.Count == 0 &&
                                   form.Error.Caption() == "G001.1 Upgrade file invalid";
    if (family == 2 || family == 3)
        FUZZ_CHECK(sink.Count == (kept ? 0 : 1) || refusedAsTooShort, "scanner/Quorin rejection messages");
    if (family == 4) FUZZ_CHECK(sink.Count == 0, "a KV file check showed a message box");

    if (kept && family == 3) FUZZ_CHECK(form.QuorinPacket->FirmwareSize == static_cast<int32_t>(size), "Quorin size");
    if (kept && family == 4) FUZZ_CHECK(form.KVPacket->FirmwareSize == static_cast<int32_t>(size), "KV size");
    if (kept && family == 2) FUZZ_CHECK(form.ScanPacket->ImageLength == static_cast<int32_t>(size), "scanner size");
    // First-generation scanner files need a whole image and its trailer block.
    if (firstGen) FUZZ_CHECK(kept == (size >= 263168), "scanner size check");
}

void CheckFont(TForm1& form, fuzz::TCountingSink& sink, size_t size) {
    const std::string& path = g_world->file->Path();
    form.FirmwareFile = path;
    sink.Count = 0;
    form.CheckFontFile();
    FUZZ_CHECK(form.FirmwareFamily == 4, "a font check did not select the KV family");
    FUZZ_CHECK(form.KVPacket->FirmwareSize == static_cast<int32_t>(size), "font size not stored");
    // Small fonts always load; only a load failure empties the file name, with a message.
    const bool kept = form.FirmwareFile == path;
    FUZZ_CHECK(kept == (sink.Count == 0), "font rejection without exactly one message, or a message on success");
    if (size / 4096 + 1 <= static_cast<size_t>(TKV_Packet::kFontMaxEntries)) FUZZ_CHECK(kept, "a small font refused");
    FUZZ_CHECK(form.Path.Caption() == (kept ? "firmware.bin" : ""), "file line after a font check");
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    MarkMainThread();
    g_world = new TWorld;
    g_world->file = std::make_unique<fuzz::TScratchFile>("firmware.bin");
    g_world->sink = std::make_shared<fuzz::TCountingSink>();
    InstallMessageSink(g_world->sink);
    g_world->form = std::make_unique<TForm1>();
    // The window goes before the application object, and the scratch folder with it.
    std::atexit([] { delete g_world; });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    g_world->file->Write(data, size);
    CheckFirmware(*g_world->form, *g_world->sink, data, size);
    CheckFont(*g_world->form, *g_world->sink, size);
    return 0;
}
