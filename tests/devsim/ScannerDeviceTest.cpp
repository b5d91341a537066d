// The emulated scanners and docking stations, fed the host's own frames
// (built by the protocol classes) the way the server feeds them from the pty.
#include <gtest/gtest.h>

#include <filesystem>

#include "Device.h"
#include "Firmwarefile.h"
#include "Scannerdevice.h"
#include "TestSupport.h"
#include "protocol/Frame.h"
#include "protocol/Scan_packet.h"
#include "protocol/Scan_tid_packet.h"

using namespace tolm;
using namespace tolm::devsim;
using tolm::test::TempDir;

namespace {

struct RecordingLine : Line {
    std::vector<TByteBuffer> writes;
    void Write(const TByteBuffer& bytes) override { writes.push_back(bytes); }
    TByteBuffer TakeAll() {
        TByteBuffer all;
        for (auto& w : writes) all.Append(w);
        writes.clear();
        return all;
    }
};

// Hands bytes to a device as the server does: complete requests in order,
// bytes that start none dropped, an incomplete tail kept for later.
class Feeder {
public:
    explicit Feeder(Device& device) : device_(device) {}
    TByteBuffer Feed(const TByteBuffer& bytes) {
        pending_.Append(bytes);
        while (!pending_.IsEmpty()) {
            int len = device_.RequestLength(pending_);
            if (len == 0) break;
            if (len < 0) {
                pending_ = pending_.Mid(1, pending_.Length() - 1);
                continue;
            }
            TByteBuffer request = pending_.Mid(0, len);
            pending_ = pending_.Mid(len, pending_.Length() - len);
            device_.OnRequest(request, line_);
        }
        return line_.TakeAll();
    }
    int Pending() const { return pending_.Length(); }
    RecordingLine& Line() { return line_; }

private:
    Device& device_;
    TByteBuffer pending_;
    RecordingLine line_;
};

std::unique_ptr<Device> Make(const std::string& name, const std::map<std::string, std::string>& sets = {}) {
    Options o;
    for (auto& [k, v] : sets) o.Set(k, v);
    return Devices().at(name).device(o);
}

int Generate(const std::string& name, const std::string& out, const std::map<std::string, std::string>& sets = {}) {
    Options o;
    o.Set("out", out);
    for (auto& [k, v] : sets) o.Set(k, v);
    return Generators().at(name).generator(o);
}

// The file's bytes [from, from + count) each minus 10: what a flash should hold.
TByteBuffer Unstored(const std::string& file, int from, int count) {
    TByteBuffer out(count);
    for (int i = 0; i < count; ++i) out[i] = static_cast<uint8_t>(static_cast<uint8_t>(file[from + i]) - 10);
    return out;
}

const TByteBuffer kFirstGenAck{0x7E, 0x7E, 0x01, 0x06, 0x07, 0x7E};

// Answers everything except the first attempt of one block.
class LoseFirstAttemptOfBlock : public ReplyPolicy {
public:
    explicit LoseFirstAttemptOfBlock(int block) : block_(block) {}
    bool ShouldAnswer(const ScannerRequest& r) override {
        seen.push_back(r);
        return !(r.phase == 1 && r.block == block_ && r.attempt == 1);
    }
    std::vector<ScannerRequest> seen;

private:
    int block_;
};

}  // namespace

TEST(FirstGenScannerDevice, RequestLengthsByCommandAndPhase) {
    auto d = Make("scanner");
    EXPECT_EQ(d->RequestLength({0x7E, 0x7E, 0x01, 0x10, 0x11, 0x7E}), 6);
    EXPECT_EQ(d->RequestLength({0x7E, 0x7E, 0x01, 0x30}), 6);
    EXPECT_EQ(d->RequestLength({0x7E, 0x7E, 0x01, 0x06}), 6);
    EXPECT_EQ(d->RequestLength({0x7E, 0x7E, 0x01, 0x70, 0x00}), 11);
    EXPECT_EQ(d->RequestLength({0x7E, 0x7E, 0x01, 0x70, 0x01}), 1035);
    EXPECT_EQ(d->RequestLength({0x7E, 0x7E, 0x01, 0x70, 0x02}), 7);
    EXPECT_EQ(d->RequestLength({0x7E, 0x7E, 0x01, 0x70}), 0) << "phase not yet here";
    EXPECT_EQ(d->RequestLength({0x7E}), 0);
    EXPECT_EQ(d->RequestLength({0x7E, 0x7E, 0x01, 0x70, 0x03}), -1);
    EXPECT_EQ(d->RequestLength({0x7E, 0x7E, 0x01, 0x44}), -1);
    EXPECT_EQ(d->RequestLength({0x7E, 0x7E, 0x03, 0x10}), -1);
    EXPECT_EQ(d->RequestLength({0x00}), -1);
}

TEST(FirstGenScannerDevice, AnswersIdentificationFromItsSettings) {
    auto d = Make("scanner", {{"model", "ND1Y"}, {"digit6", "8"}, {"kernel", "4"}, {"digit14", "2"}});
    Feeder f(*d);
    // Garbage before the request and a request split in two are handled.
    EXPECT_TRUE(f.Feed({0x00, 0x55, 0x7E, 0x7E}).IsEmpty());
    const TByteBuffer reply = f.Feed({0x01, 0x10, 0x11, 0x7E});
    ASSERT_EQ(reply.Length(), 24);
    TScan_Packet host;
    host.ModelCode = "ND1Y";
    host.Digit6 = 8;
    host.KernelDigit = 4;
    host.Digit14 = 2;
    EXPECT_EQ(host.CompareIdentification(TScan_Packet::IdentificationBlock(reply)), 0);
    EXPECT_EQ(reply, TPacketFrame::SetLRC(reply.Mid(2, 20)));
    EXPECT_EQ(f.Feed(TScan_Packet::Request(0x30)), kFirstGenAck);
    EXPECT_TRUE(f.Feed(TScan_Packet::Request(0x06)).IsEmpty()) << "the host's acknowledgement gets no answer";
    EXPECT_TRUE(f.Feed({0x7E, 0x7E, 0x01, 0x10, 0x12, 0x7E}).IsEmpty()) << "wrong check byte";
}

TEST(FirstGenScannerDevice, KeepsTheImageItReceives) {
    TempDir dir;
    ASSERT_EQ(Generate("scanner-fw", dir.File("fw.bin"), {{"blank", "1-3,10-200"}}), 0);
    const std::string file = dir.Read("fw.bin");
    ASSERT_EQ(file.size(), 263168u);
    TScan_Packet host;
    host.ImageLength = 263168;
    host.LoadFileToMemory(dir.File("fw.bin"));

    auto d = Make("scanner");
    Feeder f(*d);
    // Blocks before a start are refused.
    EXPECT_TRUE(f.Feed(host.BlockPacket[0]).IsEmpty());
    EXPECT_EQ(f.Feed(host.StartFrame()), kFirstGenAck);
    EXPECT_EQ(static_cast<FirstGenScanner&>(*d).AnnouncedLength(), 262144u);
    int sent = 0;
    for (int i = 0; i < 256; ++i) {
        if (host.SkipBlock[i]) continue;
        ASSERT_EQ(f.Feed(host.BlockPacket[i]), kFirstGenAck) << i;
        ++sent;
    }
    EXPECT_LT(sent, 256);
    EXPECT_FALSE(d->TakeImageComplete());
    EXPECT_EQ(f.Feed(TScan_Packet::EndFrame()), kFirstGenAck);
    EXPECT_TRUE(d->TakeImageComplete());
    EXPECT_FALSE(d->TakeImageComplete()) << "reported once";
    EXPECT_EQ(d->Image(), Unstored(file, 0, 262144));
}

TEST(FirstGenScannerDevice, ReplyPolicySeesRepeatedAttempts) {
    TempDir dir;
    ASSERT_EQ(Generate("scanner-fw", dir.File("fw.bin")), 0);
    TScan_Packet host;
    host.ImageLength = 263168;
    host.LoadFileToMemory(dir.File("fw.bin"));
    auto d = Make("scanner");
    auto policy = std::make_unique<LoseFirstAttemptOfBlock>(5);
    auto* seen = policy.get();
    static_cast<ScannerDeviceBase&>(*d).SetReplyPolicy(std::move(policy));
    Feeder f(*d);
    f.Feed(host.StartFrame());
    EXPECT_EQ(f.Feed(host.BlockPacket[4]), kFirstGenAck);
    EXPECT_TRUE(f.Feed(host.BlockPacket[5]).IsEmpty());
    EXPECT_EQ(f.Feed(host.BlockPacket[5]), kFirstGenAck);
    ASSERT_EQ(seen->seen.size(), 4u);
    EXPECT_EQ(seen->seen[0].phase, 0);
    EXPECT_EQ(seen->seen[2].block, 5);
    EXPECT_EQ(seen->seen[2].attempt, 1);
    EXPECT_EQ(seen->seen[3].attempt, 2);
}

TEST(TidDevice, RequestLengthsByCommandAndPhase) {
    auto d = Make("tid-pair");
    TScan_TID_Packet host;
    host.TerminalID = {0, 0, 0, 1};
    host.ImageLength = 263168;
    for (uint8_t c : {0x06, 0x10, 0x11, 0x30, 0x6F}) EXPECT_EQ(d->RequestLength(host.Request(c)), 14) << int(c);
    EXPECT_EQ(d->RequestLength(TScan_TID_Packet::QueryFrame(0x90)), 14);
    EXPECT_EQ(d->RequestLength(TScan_TID_Packet::QueryFrame(0x95)), 14);
    EXPECT_EQ(d->RequestLength(host.StartFrame(0x75)), 19);
    EXPECT_EQ(d->RequestLength(host.EndFrame(0x70)), 15);
    TByteBuffer block = host.Request(0x70, {0x01});
    EXPECT_EQ(d->RequestLength(block.Mid(0, 13)), 1043);
    EXPECT_EQ(d->RequestLength(block.Mid(0, 12)), 0);
    EXPECT_EQ(d->RequestLength(host.Request(0x64)), -1);
    EXPECT_EQ(d->RequestLength({0x7E, 0x7E, 0x02}), -1);
}

TEST(TidDevice, QueriesCarryEachStationsIdAndOnlyPresentStationsAnswer) {
    auto pair = Make("tid-pair", {{"id", "0A0B0C0D"}, {"dock-id", "11223344"}});
    Feeder f(*pair);
    TScan_TID_Packet host;
    const TByteBuffer scanReply = f.Feed(TScan_TID_Packet::QueryFrame(0x90));
    ASSERT_TRUE(TScan_TID_Packet::IsQueryReply(scanReply));
    host.SetTerminalID(scanReply);
    EXPECT_EQ(host.TerminalID, (TByteBuffer{0x0A, 0x0B, 0x0C, 0x0D}));
    EXPECT_EQ(TPacketFrame::GetTerminalName(scanReply), "SCAN01");
    const TByteBuffer dockReply = f.Feed(TScan_TID_Packet::QueryFrame(0x95));
    ASSERT_TRUE(TScan_TID_Packet::IsQueryReply(dockReply));
    EXPECT_EQ(dockReply.Mid(3, 4), (TByteBuffer{0x11, 0x22, 0x33, 0x44}));

    auto dock = Make("tid-dock");
    Feeder g(*dock);
    EXPECT_TRUE(g.Feed(TScan_TID_Packet::QueryFrame(0x90)).IsEmpty()) << "only the dock answers";
    EXPECT_TRUE(TScan_TID_Packet::IsQueryReply(g.Feed(TScan_TID_Packet::QueryFrame(0x95))));
    auto scanner = Make("tid-scanner");
    Feeder h(*scanner);
    EXPECT_TRUE(h.Feed(TScan_TID_Packet::QueryFrame(0x95)).IsEmpty());
}

TEST(TidDevice, IdentificationIsAddressed) {
    auto d = Make("tid-pair", {{"model", "GH2Y"}, {"kernel", "3"}, {"dock-model", "TW2Y"}, {"dock-digit6", "5"}});
    Feeder f(*d);
    TScan_TID_Packet host;
    host.TerminalID = {0, 0, 0, 1};
    host.ModelCode = "GH2Y";
    host.Digit6 = 7;
    host.KernelDigit = 3;
    EXPECT_EQ(host.CompareIdentification(TScan_TID_Packet::IdentificationBlock(f.Feed(host.Request(0x10)))), 0);
    EXPECT_TRUE(f.Feed(host.Request(0x11)).IsEmpty()) << "0x11 goes to the dock's ID";
    host.TerminalID = {0, 0, 0, 2};
    host.ModelCode = "TW2Y";
    host.Digit6 = 5;
    host.KernelDigit = 1;
    const TByteBuffer reply = f.Feed(host.Request(0x11));
    ASSERT_EQ(reply.Length(), 32);
    EXPECT_EQ(host.CompareIdentification(TScan_TID_Packet::IdentificationBlock(reply)), 0);
    host.TerminalID = {9, 9, 9, 9};
    EXPECT_TRUE(f.Feed(host.Request(0x30)).IsEmpty()) << "addressed to no one here";
}

TEST(TidDevice, AnnouncesUntilTheHostSpeaks) {
    auto d = Make("tid-scanner", {{"announce", "1"}, {"announce-interval", "0"}, {"id", "00000007"}});
    RecordingLine line;
    d->OnIdle(line);
    ASSERT_EQ(line.writes.size(), 1u);
    EXPECT_TRUE(TScan_TID_Packet::IsAnnouncement(line.writes[0]));
    EXPECT_EQ(line.writes[0].Mid(3, 4), (TByteBuffer{0, 0, 0, 7}));
    TScan_TID_Packet host;
    host.SetTerminalID(line.writes[0]);
    d->OnRequest(host.Request(0x6F), line);
    line.writes.clear();
    d->OnIdle(line);
    EXPECT_TRUE(line.writes.empty());
    auto quiet = Make("tid-scanner");
    quiet->OnIdle(line);
    EXPECT_TRUE(line.writes.empty());
}

TEST(TidDevice, TwoImageTransferWithBothAcknowledgementForms) {
    TempDir dir;
    ASSERT_EQ(Generate("tid-fw", dir.File("fw.bin"), {{"blank", "5-9"}, {"dock-model", "GH2Y"}}), 0);
    const std::string file = dir.Read("fw.bin");
    ASSERT_EQ(file.size(), 526336u);
    for (const std::string acks : {"long", "short"}) {
        auto d = Make("tid-pair", {{"ack75", acks}});
        Feeder f(*d);
        TScan_TID_Packet host;
        host.ImageLength = 263168;
        host.SetTerminalID(f.Feed(TScan_TID_Packet::QueryFrame(0x90)));
        host.LoadFileToMemory70(dir.File("fw.bin"));
        ASSERT_TRUE(TScan_TID_Packet::IsAcknowledgement(f.Feed(host.StartFrame(0x70))));
        for (int i = 0; i < 256; ++i) {
            if (host.SkipBlock[i]) continue;
            ASSERT_TRUE(TScan_TID_Packet::IsAcknowledgement(f.Feed(host.BlockPacket[i]))) << i;
        }
        ASSERT_TRUE(TScan_TID_Packet::IsAcknowledgement(f.Feed(host.EndFrame(0x70))));
        EXPECT_TRUE(d->TakeImageComplete());

        host.ImageOffset = 257;
        ASSERT_EQ(host.CheckUpgradeFileVer(dir.File("fw.bin")), 0);
        EXPECT_EQ(host.ModelCode, "GH2Y");
        // Addressed to the scanner, the dock's transfer is not answered.
        EXPECT_TRUE(f.Feed(host.StartFrame(0x75)).IsEmpty());
        host.SetTerminalID(f.Feed(TScan_TID_Packet::QueryFrame(0x95)));
        host.LoadFileToMemory75(dir.File("fw.bin"));
        const TByteBuffer start = f.Feed(host.StartFrame(0x75));
        EXPECT_TRUE(TScan_TID_Packet::IsStart75Acknowledgement(start));
        EXPECT_EQ(start.Length(), acks == "long" ? 15 : 14);
        for (int i = 0; i < 256; ++i) {
            if (host.SkipBlock[i]) continue;
            ASSERT_TRUE(TScan_TID_Packet::IsAcknowledgement(f.Feed(host.BlockPacket[i]))) << i;
        }
        const TByteBuffer end = f.Feed(host.EndFrame(0x75));
        EXPECT_TRUE(TScan_TID_Packet::IsEnd75Acknowledgement(end));
        EXPECT_EQ(end.Length(), acks == "long" ? 15 : 14);
        EXPECT_TRUE(d->TakeImageComplete());

        TByteBuffer expected = Unstored(file, 0, 262144);
        expected.Append(Unstored(file, 263168, 262144));
        EXPECT_EQ(d->Image(), expected);
    }
}

TEST(ScannerFirmwareGenerator, TrailersPassTheHostsFileCheck) {
    TempDir dir;
    ASSERT_EQ(Generate("scanner-fw", dir.File("one.bin"),
                       {{"model", "ND1Y"}, {"digit6", "6"}, {"kernel", "2"}, {"digit14", "9"}}),
              0);
    TScan_Packet first;
    ASSERT_EQ(first.CheckUpgradeFileVer(dir.File("one.bin")), 0);
    EXPECT_EQ(first.ModelCode, "ND1Y");
    EXPECT_EQ(first.Digit6, 6);
    EXPECT_EQ(first.KernelDigit, 2);
    EXPECT_EQ(first.Digit14, 9);
    const std::string one = dir.Read("one.bin");
    EXPECT_EQ(Unstored(one, 262144, 5).ToText(), "2ND1Y") << "family code 2ND, model ND1Y";

    ASSERT_EQ(Generate("tid-fw", dir.File("two.bin"), {{"dock-model", "GH2Y"}, {"dock-kernel", "5"}}), 0);
    TScan_TID_Packet tid;
    tid.ImageOffset = 257;
    ASSERT_EQ(tid.CheckUpgradeFileVer(dir.File("two.bin")), 0);
    EXPECT_EQ(tid.ModelCode, "GH2Y");
    EXPECT_EQ(tid.KernelDigit, 5);
    EXPECT_EQ(tid.Digit6, 7) << "the dock takes the first image's other values";
}

TEST(ScannerFirmwareGenerator, BlankRegionsTruncationAndBadOptions) {
    TempDir dir;
    ASSERT_EQ(Generate("scanner-fw", dir.File("blank.bin"), {{"fill", "blank"}}), 0);
    TScan_Packet p;
    p.LoadFileToMemory(dir.File("blank.bin"));
    int sent = 0;
    for (int i = 0; i < 256; ++i) sent += p.SkipBlock[i] ? 0 : 1;
    EXPECT_EQ(sent, 76);
    ASSERT_EQ(Generate("scanner-fw", dir.File("cut.bin"), {{"truncate", "5000"}}), 0);
    EXPECT_EQ(dir.Read("cut.bin").size(), 5000u);
    EXPECT_EQ(Generate("scanner-fw", dir.File("bad.bin"), {{"blank", "3-300"}}), 2);
    EXPECT_EQ(Generate("scanner-fw", dir.File("bad.bin"), {{"model", "LB1"}}), 2);
    EXPECT_EQ(Generate("tid-fw", dir.File("bad.bin"), {{"images", "3"}}), 2);
    EXPECT_FALSE(std::filesystem::exists(dir.File("bad.bin")));
}

TEST(FirmwareFileHelpers, RangesAndHexBytes) {
    std::vector<bool> flags;
    ASSERT_TRUE(firmware::ParseRanges("0,2-4,255", 256, flags));
    EXPECT_TRUE(flags[0] && flags[2] && flags[3] && flags[4] && flags[255]);
    EXPECT_FALSE(flags[1] || flags[5]);
    EXPECT_TRUE(firmware::ParseRanges("", 256, flags));
    for (const char* bad : {"4-2", "256", "1,,2", "a", "1-", "-1"})
        EXPECT_FALSE(firmware::ParseRanges(bad, 256, flags)) << bad;
    TByteBuffer id;
    ASSERT_TRUE(firmware::ParseHexBytes("0a0B0c0D", 4, id));
    EXPECT_EQ(id, (TByteBuffer{0x0A, 0x0B, 0x0C, 0x0D}));
    EXPECT_FALSE(firmware::ParseHexBytes("0a0b0c", 4, id));
    EXPECT_FALSE(firmware::ParseHexBytes("0g0b0c0d", 4, id));
}

TEST(DeviceOptions, BadSettingsCreateNoDevice) {
    EXPECT_EQ(Make("scanner", {{"model", "TOOLONG"}}), nullptr);
    EXPECT_EQ(Make("tid-scanner", {{"id", "123"}}), nullptr);
    EXPECT_EQ(Make("tid-scanner", {{"role", "printer"}}), nullptr);
    EXPECT_EQ(Make("tid-dock", {{"ack75", "medium"}}), nullptr);
    EXPECT_NE(Make("tid-scanner", {{"role", "dock"}}), nullptr);
}
