#pragma once
// Emulated Quorin terminal ("quorin").
//
// Until the host acknowledges it, the terminal announces itself every
// announce-ms with a 0x64 frame (type byte, its ID as sender, its 6-character
// name at frame offsets 14-19); with announce-again-ms, it announces again
// once the host has sent nothing for that long. It answers:
//   0x06 from the host   acknowledgement of the announcement: announcing stops
//   0x07 connect start   an acknowledgement only when connect-ack=1
//   0x10 identification  32-byte reply; block = model (4 chars), 0 x5, kernel, 0 x6
//   0x70 firmware        start (body size), data (packet number, 1024 bytes), end
//   0x61 file put        start (block size 0x1000, size, name), data (block
//                        number, length bytes 01 00 for a full block, else 00
//                        and the low byte of the bytes it holds, 4096 bytes), end
//   0x63 file info       size at frame offsets 15-18, the file's name as reply text
//   0x66 file delete     acknowledgement when the file existed
//   0x6A disk space      frame offsets 12-15 free bytes, 16-19 capacity
//   0x73 directory       drive 0 = A:, else B:; "NAME|size|NAME|size" (at most 255 characters)
// Requests with a wrong check byte, another type byte, another receiver or a
// sender other than the host (00 00 00 00) are ignored, as are file requests for a missing file: the host sees no reply.
//
// Image() is the firmware body as received: the announced number of bytes,
// byte k from data packet k / 1024 (0xFF where no packet came).
#include <chrono>
#include <functional>
#include <map>
#include <memory>
#include <string>

#include "Device.h"

namespace tolm::devsim {

class QuorinDevice : public Device {
public:
    struct Settings {
        TByteBuffer id{0x00, 0x00, 0x00, 0x01};
        std::string name = "QR1000";  // 6 characters, padded with blanks
        std::string model = "QR1Y";
        uint8_t type = 0x03;
        uint8_t kernel = 3;
        int announceMs = 2000;
        int announceAgainMs = 0;  // 0: never announces again once acknowledged
        bool connectAck = false;
        uint32_t capacity = 1u << 20;  // bytes of the file store, both drives together
        std::map<std::string, TByteBuffer> files;  // "A:NAME" -> content
    };
    // From --set options; false with a reason for a value it cannot use.
    static bool FromOptions(const Options& options, Settings& settings, std::string& error);

    // For a later fault layer: sees each complete request before the device
    // acts on it (false: the device ignores it) and each reply before it is
    // written (it may change or empty it).
    struct Hook {
        std::function<bool(const TByteBuffer& request)> admit;
        std::function<void(const TByteBuffer& request, TByteBuffer& reply)> reply;
    };
    Hook hook;

    explicit QuorinDevice(Settings settings);

    int RequestLength(const TByteBuffer& pending) override;
    void OnRequest(const TByteBuffer& request, Line& line) override;
    void OnIdle(Line& line) override;
    TByteBuffer Image() const override { return body_; }
    bool TakeImageComplete() override;

    TByteBuffer Announcement() const;
    const std::map<std::string, TByteBuffer>& Files() const { return settings_.files; }

private:
    // The whole length of the request that pending starts (it may not all be
    // there yet); 0 when more bytes are needed to tell, -1 for no request.
    int FrameLength(const TByteBuffer& pending) const;
    TByteBuffer Reply(uint8_t command, const TByteBuffer& data = {}) const;
    TByteBuffer Answer(const TByteBuffer& request);
    TByteBuffer Firmware(const TByteBuffer& request);
    TByteBuffer FilePut(const TByteBuffer& request);
    TByteBuffer FileInfo(const TByteBuffer& request);
    TByteBuffer FileDelete(const TByteBuffer& request);
    TByteBuffer DiskSpace() const;
    TByteBuffer Directory(const TByteBuffer& request) const;
    uint32_t UsedBytes() const;
    uint32_t FreeBytes() const;

    Settings settings_;
    bool acknowledged_ = false;
    std::chrono::steady_clock::time_point lastAnnounce_{};
    std::chrono::steady_clock::time_point lastRequest_{};

    bool downloading_ = false;
    bool imageComplete_ = false;
    TByteBuffer body_;

    // A file being put: its name, announced size and content so far.
    bool putting_ = false;
    std::string putName_;
    TByteBuffer putData_;
};

}  // namespace tolm::devsim
