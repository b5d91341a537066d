// The reply recognisers of every family and the frame helpers, fed any bytes
// as a device's reply. None may raise (a byte-buffer range error would end
// the running event handler); the pieces they cut out must be the right size
// and come from the right place.
// Input: the reply bytes (also read as a Quorin directory text).
#include <cstdint>
#include <string>

#include "FuzzSupport.h"
#include "protocol/Frame.h"
#include "base/Strfunc.h"
#include "protocol/Quorin_packet.h"
#include "protocol/Scan_packet.h"
#include "protocol/Scan_tid_packet.h"
#include "toolkit/Controls.h"
#include "toolkit/Exception.h"

namespace {

using namespace tolm;

bool SameBytes(const TByteBuffer& piece, const TByteBuffer& whole, int from) {
    if (from < 0 || from + piece.Length() > whole.Length()) return false;
    for (int i = 0; i < piece.Length(); ++i)
        if (piece[i] != whole[from + i]) return false;
    return true;
}

// A frame as the helpers build it: 7E 7E, payload, XOR of the payload, 7E.
void CheckFrameShape(const TByteBuffer& frame, const TByteBuffer& payload) {
    FUZZ_CHECK(frame.Length() == payload.Length() + 4, "frame length is not payload + 4");
    FUZZ_CHECK(frame[0] == frame::kFlag && frame[1] == frame::kFlag, "frame does not start with 7E 7E");
    FUZZ_CHECK(frame[frame.Length() - 1] == frame::kFlag, "frame does not end with 7E");
    FUZZ_CHECK(SameBytes(payload, frame, 2), "frame does not carry its payload");
    FUZZ_CHECK(frame::CheckByte(frame.data() + 2, payload.Length() + 1) == 0, "check byte is not the payload's XOR");
}

void CheckScanner(const TByteBuffer& reply) {
    static TScan_Packet scan = [] {
        TScan_Packet p;
        p.ModelCode = "LB1Y";
        p.Digit6 = 7;
        p.KernelDigit = 1;
        p.Digit14 = 0;
        return p;
    }();
    const bool ack = TScan_Packet::IsAcknowledgement(reply);
    if (ack) FUZZ_CHECK(reply.Length() == TScan_Packet::kAckLength, "scanner ack of the wrong length");

    const TByteBuffer block = TScan_Packet::IdentificationBlock(reply);
    if (block.IsEmpty()) {
        FUZZ_CHECK(reply.Length() != TScan_Packet::kInfoReplyLength, "no block from a full-length info reply");
    } else {
        FUZZ_CHECK(block.Length() == 16 && SameBytes(block, reply, 6), "scanner block is not reply bytes 6-21");
    }
    const int full = scan.CompareIdentification(block);
    FUZZ_CHECK(full == 0 || (full <= -2 && full >= -6), "scanner comparison result out of its set");
    FUZZ_CHECK((full == -2) == (block.Length() != 16), "scanner comparison -2 is not 'no block'");
    const int kernel = scan.CompareKernelLevel(reply);
    FUZZ_CHECK(kernel == 0 || kernel == -1 || kernel == -2, "kernel comparison result out of its set");
}

void CheckScannerTid(const TByteBuffer& reply) {
    static TScan_TID_Packet tid = [] {
        TScan_TID_Packet p;
        p.ModelCode = "GH2Y";
        p.Digit6 = 1;
        p.KernelDigit = 2;
        p.Digit14 = 3;
        return p;
    }();
    const bool ack = TScan_TID_Packet::IsAcknowledgement(reply);
    FUZZ_CHECK(ack == frame::IsAddressedAck(reply), "TID ack differs from the addressed ack");
    if (ack) FUZZ_CHECK(reply.Length() == TScan_TID_Packet::kAckLength && reply[11] == 0x06, "TID ack shape");
    if (TScan_TID_Packet::IsStart75Acknowledgement(reply) || TScan_TID_Packet::IsEnd75Acknowledgement(reply))
        FUZZ_CHECK(reply.Length() == 14 || reply.Length() == 15, "0x75 ack of the wrong length");
    if (TScan_TID_Packet::IsQueryReply(reply)) FUZZ_CHECK(reply.Length() == 24, "query reply of the wrong length");
    if (TScan_TID_Packet::IsAnnouncement(reply)) FUZZ_CHECK(reply.Length() == 14, "announcement of the wrong length");

    const TByteBuffer block = TScan_TID_Packet::IdentificationBlock(reply);
    if (!block.IsEmpty())
        FUZZ_CHECK(block.Length() == 16 && SameBytes(block, reply, 14), "TID block is not reply bytes 14-29");
    else
        FUZZ_CHECK(reply.Length() != TScan_TID_Packet::kInfoReplyLength, "no block from a full-length TID reply");
    const int r = tid.CompareIdentification(block);
    FUZZ_CHECK(r == 0 || (r <= -2 && r >= -6), "TID comparison result out of its set");

    // The terminal ID an announcement carries, and the requests addressed to it.
    TScan_TID_Packet fresh;
    fresh.SetTerminalID(reply);
    if (reply.Length() >= 7) {
        FUZZ_CHECK(fresh.HasTerminalID() && SameBytes(fresh.TerminalID, reply, 3), "terminal ID is not bytes 3-6");
        const TByteBuffer request = fresh.Request(TScan_TID_Packet::kCmdAck);
        CheckFrameShape(request, frame::AddressedPayload(0x01, fresh.TerminalID, TScan_TID_Packet::kCmdAck));
    } else {
        FUZZ_CHECK(!fresh.HasTerminalID() && fresh.Request(0x06).IsEmpty(), "a short frame gave a terminal ID");
    }
    const std::string name = TPacketFrame::GetTerminalName(reply);
    FUZZ_CHECK(name.empty() || (name.size() == 6 && reply.Length() >= 20), "terminal name is not 6 characters");
}

void CheckQuorin(const TByteBuffer& reply, const std::string& text) {
    int32_t size = -12345;
    std::string replyText = "unchanged";
    if (TQuorin_Packet::Get_63_info(reply, size, replyText)) {
        FUZZ_CHECK(reply.Length() >= 19 && reply[11] == 0x63, "0x63 reply accepted without its size field");
        FUZZ_CHECK(static_cast<uint32_t>(size) == frame::ReadBigEndian32(reply, 15), "0x63 size is not bytes 15-18");
        FUZZ_CHECK(replyText.size() <= static_cast<size_t>(reply.Length()), "0x63 text longer than the reply");
    } else {
        FUZZ_CHECK(size == -12345 && replyText == "unchanged", "a refused 0x63 reply set its out-arguments");
    }

    // The directory text "name|size|name|size...".
    TListView list("ListView1");
    bool converted = true;
    try {
        TQuorin_Packet::ShowTreeView(&list, text);
    } catch (const EConvertError&) {
        converted = false;  // a size that is no decimal number: expected
    }
    if (converted) {
        const size_t rows = text.empty() ? 0 : (CountChar(text, '|') + 1) / 2;
        FUZZ_CHECK(list.Items().size() == rows, "directory rows do not match its name/size pairs");
    }
    for (const TListItem& item : list.Items()) {
        FUZZ_CHECK(item.SubItems.size() == 2, "directory row without its two sub-items");
        FUZZ_CHECK(TQuorin_Packet::TermianlFileExists(item.Caption, &list), "a listed name is not found");
    }

    const TByteBuffer fileName = TQuorin_Packet::TerminalFileName(static_cast<int>(text.size() % 3), text);
    FUZZ_CHECK(fileName.Length() == static_cast<int>(text.size()) + 3 && fileName[fileName.Length() - 1] == 0,
               "terminal file name is not drive + name + NUL");
    const std::string base = TQuorin_Packet::BaseName(text);
    FUZZ_CHECK(base.find_first_of("/\\") == std::string::npos, "base name keeps a folder separator");
    FUZZ_CHECK(text.size() >= base.size() && text.compare(text.size() - base.size(), base.size(), base) == 0,
               "base name is not the end of the path");
}

void CheckFrameHelpers(const TByteBuffer& bytes) {
    CheckFrameShape(frame::Wrap(bytes), bytes);
    if (bytes.Length() >= 4) {
        const uint32_t v = frame::ReadBigEndian32(bytes, 0);
        FUZZ_CHECK(frame::BigEndian32(static_cast<int32_t>(v)) == bytes.Mid(0, 4), "big-endian 32 round trip");
        const uint16_t w = frame::ReadBigEndian16(bytes, 2);
        FUZZ_CHECK(frame::BigEndian16(w) == bytes.Mid(2, 2), "big-endian 16 round trip");
    }
    // Hex dumps: two digits and a comma per byte, or one digit for bytes below 0x10.
    static TScan_Packet twoDigit;
    static TQuorin_Packet shortDigit;
    const std::string two = twoDigit.HexDumpLine(bytes);
    FUZZ_CHECK(two.size() == 3 * static_cast<size_t>(bytes.Length()), "two-digit dump length");
    const std::string one = shortDigit.HexDumpLine(bytes);
    FUZZ_CHECK(one.size() >= 2 * static_cast<size_t>(bytes.Length()) && one.size() <= two.size(),
               "short-digit dump length");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const TByteBuffer reply(data, size);
    const std::string text = tolm::fuzz::AsText(data, size);
    CheckScanner(reply);
    CheckScannerTid(reply);
    CheckQuorin(reply, text);
    CheckFrameHelpers(reply);
    return 0;
}
