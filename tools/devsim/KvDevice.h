#pragma once
// Emulated KV terminal ("kv").
//
// The terminal is silent until the raw sequence 1B 1B 55 puts it into upgrade
// mode; frames before that are read and ignored. In upgrade mode it answers:
//   0x10 identification  32-byte reply with the fixed block "KV1Y" 00 06 00 00 00
//                        <kernel> 00 00 01 01 00 00
//   0x70 start           the file size minus its 1024-byte identification
//                        block; acknowledged when that fits the flash
//   0x70 data            2-byte data position p, length 0x1000, 4096 bytes:
//                        programmed at flash offset p * 1024; acknowledged
//                        (a frame reaching past the flash is not)
//   0x70 end             acknowledged, and the image is complete, when the
//                        announced size fits what was written: firmware has
//                        its family code "4KV" at that size and no entry past
//                        the file; a font has every entry from data position
//                        512 on and inside the file
//   0x30 quit            acknowledged; the terminal leaves upgrade mode
// Requests with a wrong check byte, another type byte, another receiver or a
// sender other than the host (00 00 00 00) are ignored, and so is anything
// the host sends at a speed other than the terminal's: 9600 before upgrade
// mode, 38400 in it. (The escape sequence is also taken at 38400: on a pty
// the emulator may read it only after the host has switched.)
//
// Flash layout (Image()): flash-size bytes (default 2 MiB), holding flash-fill
// (default 0xFF, erased) at start and never erased by the terminal. Firmware entry i (data position 4i)
// lands at offset i * 4096, font entry i (data position 512 + 4i) at
// 512 KiB + i * 4096. So after an upgrade the flash holds exactly the
// non-blank entries that were sent, each at its data position, and flash-fill
// everywhere else (a fill other than 0xFF shows which entries were never sent).
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "Device.h"

namespace tolm::devsim {

class KvDevice : public Device {
public:
    struct Settings {
        TByteBuffer id{0x00, 0x00, 0x00, 0x01};
        uint8_t type = 0x04;
        uint8_t kernel = 3;
        int flashSize = 2 << 20;
        uint8_t flashFill = 0xFF;  // what the flash holds before the host writes it
    };
    static bool FromOptions(const Options& options, Settings& settings, std::string& error);

    // For a later fault layer: sees each complete request (the escape sequence
    // included) before the device acts on it (false: ignored) and each reply
    // before it is written (it may change or empty it).
    struct Hook {
        std::function<bool(const TByteBuffer& request)> admit;
        std::function<void(const TByteBuffer& request, TByteBuffer& reply)> reply;
    };
    Hook hook;

    explicit KvDevice(Settings settings);

    int RequestLength(const TByteBuffer& pending) override;
    void OnRequest(const TByteBuffer& request, Line& line) override;
    TByteBuffer Image() const override { return flash_; }
    bool TakeImageComplete() override;

    bool InUpgradeMode() const { return upgradeMode_; }
    // 9600 baud until the escape sequence, 38400 in upgrade mode.
    long LineSpeed() const override { return upgradeMode_ ? 38400 : 9600; }
    void OnHostSpeed(long bitsPerSecond) override { hostSpeed_ = bitsPerSecond; }

private:
    // The whole length of the request that pending starts (it may not all be
    // there yet); 0 when more bytes are needed to tell, -1 for no request.
    int FrameLength(const TByteBuffer& pending) const;
    TByteBuffer Reply(uint8_t command, const TByteBuffer& data = {}) const;
    TByteBuffer Answer(const TByteBuffer& request);
    TByteBuffer Firmware(const TByteBuffer& request);

    Settings settings_;
    bool upgradeMode_ = false;
    bool downloading_ = false;
    bool imageComplete_ = false;
    bool MatchesAnnouncedSize() const;
    bool AtTerminalSpeed(const TByteBuffer& request) const;

    int32_t announced_ = 0;            // the start request's size
    std::vector<long long> written_;   // flash offsets of the entries since the start
    long hostSpeed_ = 0;     // 0: not known, not checked
    TByteBuffer flash_;
};

}  // namespace tolm::devsim
