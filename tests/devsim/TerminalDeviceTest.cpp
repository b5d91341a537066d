// The emulated Quorin and KV terminals and the second-generation stations
// refuse what a device would refuse: a request at the wrong line speed, from
// another sender than the host, or with a size or length field that does not
// fit the transfer. Each wrong request gets no answer; its right twin does.
#include <gtest/gtest.h>

#include "Device.h"
#include "KvDevice.h"
#include "QuorinDevice.h"
#include "TestSupport.h"
#include "protocol/Frame.h"
#include "protocol/Kv_packet.h"
#include "protocol/Scan_tid_packet.h"

using namespace tolm;
using namespace tolm::devsim;
using tolm::test::TempDir;

namespace {

struct RecordingLine : Line {
    TByteBuffer written;
    void Write(const TByteBuffer& bytes) override { written.Append(bytes); }
};

// The device's answer to one whole request.
TByteBuffer Answer(Device& device, const TByteBuffer& request) {
    RecordingLine line;
    EXPECT_EQ(device.RequestLength(request), request.Length());
    device.OnRequest(request, line);
    return line.written;
}

const TByteBuffer kHost{0, 0, 0, 0};
const TByteBuffer kTerminal{0, 0, 0, 1};

TByteBuffer Request(uint8_t type, uint8_t command, const TByteBuffer& data, const TByteBuffer& sender = kHost) {
    return frame::Wrap(frame::AddressedPayloadFrom(type, sender, kTerminal, command, data));
}

TByteBuffer Bytes(std::initializer_list<TByteBuffer> parts) {
    TByteBuffer all;
    for (auto& p : parts) all.Append(p);
    return all;
}

std::unique_ptr<Device> Make(const std::string& name, const std::map<std::string, std::string>& sets = {}) {
    Options o;
    for (auto& [k, v] : sets) o.Set(k, v);
    return Devices().at(name).device(o);
}

bool IsAck(const TByteBuffer& reply) { return reply.Length() == 14 && reply[frame::kCommandOffset] == frame::kAck; }

}  // namespace

TEST(KvDevice, TakesEachPhaseOnlyAtItsLineSpeed) {
    KvDevice kv({});
    const TByteBuffer mode{0x1B, 0x1B, 0x55};
    const TByteBuffer info = Request(0x04, 0x10, {});
    kv.OnHostSpeed(115200);
    Answer(kv, mode);
    EXPECT_FALSE(kv.InUpgradeMode()) << "the escape must come at 9600";
    kv.OnHostSpeed(9600);
    Answer(kv, mode);
    ASSERT_TRUE(kv.InUpgradeMode());
    EXPECT_TRUE(Answer(kv, info).IsEmpty()) << "upgrade mode runs at 38400";
    kv.OnHostSpeed(38400);
    EXPECT_EQ(Answer(kv, info).Length(), 32);
    EXPECT_TRUE(Answer(kv, Request(0x04, 0x10, {}, {0, 0, 0, 2})).IsEmpty()) << "sender other than the host";

    TByteBuffer quitWithData = Request(0x04, 0x30, {0x00});
    EXPECT_TRUE(Answer(kv, quitWithData.Mid(0, 14)).IsEmpty()) << "a quit frame with data";
    EXPECT_TRUE(IsAck(Answer(kv, Request(0x04, 0x30, {}))));
    EXPECT_FALSE(kv.InUpgradeMode());
}

TEST(KvDevice, EndsATransferOnlyWhenTheStartAnnouncedTheFileSize) {
    TempDir dir;
    Options gen;
    gen.Set("out", dir.File("fw.bin"));
    gen.Set("body-size", "8192");  // entries 0 and 1, the identification block in entry 2
    ASSERT_EQ(Generators().at("kv-firmware").generator(gen), 0);
    TKV_Packet host;
    ASSERT_EQ(host.LoadFileToMemory(dir.File("fw.bin")), 0);
    Options fontGen;
    fontGen.Set("out", dir.File("font.fon"));
    fontGen.Set("size", "6000");
    ASSERT_EQ(Generators().at("kv-font").generator(fontGen), 0);
    TKV_Packet fontHost;
    fontHost.FirmwareSize = 6000;
    ASSERT_EQ(fontHost.LoadFileToMemoryFont(dir.File("font.fon")), 0);

    // Start with the announced size, the given entries, then the end: acknowledged?
    auto transfer = [](const TKV_Packet& from, int32_t announced, std::initializer_list<int> entries) {
        KvDevice kv({});
        kv.OnHostSpeed(9600);
        Answer(kv, {0x1B, 0x1B, 0x55});
        kv.OnHostSpeed(38400);
        if (!IsAck(Answer(kv, Request(0x04, 0x70, Bytes({{0x00}, frame::BigEndian32(announced)}))))) return false;
        for (int i : entries)
            if (!IsAck(Answer(kv, from.BlockPacket[static_cast<size_t>(i)]))) return false;
        return IsAck(Answer(kv, Request(0x04, 0x70, {0x02})));
    };
    EXPECT_TRUE(transfer(host, 8192, {0, 1, 2})) << "file size less the 1024-byte block";
    EXPECT_FALSE(transfer(host, 9216, {0, 1, 2})) << "the whole file size";
    EXPECT_FALSE(transfer(host, 0x00200000, {0, 1, 2})) << "size in the wrong byte order";
    EXPECT_TRUE(transfer(fontHost, 6000 - 1024, {0, 1}));
    EXPECT_FALSE(transfer(fontHost, 100, {0, 1})) << "a font entry past the announced file";
}

TEST(QuorinDevice, FilePutChecksBlockSizeAndLengthBytes) {
    QuorinDevice q({});
    const TByteBuffer name = TByteBuffer::FromText(std::string("A:X.TXT\0\0", 9));
    auto start = [&](uint16_t blockSize) {
        return Answer(q, Request(0x03, 0x61, Bytes({{0x00}, frame::BigEndian16(blockSize), frame::BigEndian32(5000),
                                                    name})));
    };
    auto block = [&](int i, uint8_t whole, uint8_t rest, const TByteBuffer& sender = kHost) {
        TByteBuffer data = Bytes({{0x01}, frame::BigEndian16(i), {whole, rest}});
        data.Append(TByteBuffer(4096, 0x41));
        return Answer(q, Request(0x03, 0x61, data, sender));
    };
    EXPECT_TRUE(start(2048).IsEmpty()) << "block size other than 4096";
    EXPECT_TRUE(IsAck(start(4096)));
    EXPECT_TRUE(block(0, 0x01, 0x00, {9, 9, 9, 9}).IsEmpty()) << "sender other than the host";
    EXPECT_TRUE(block(0, 0x00, 0x00).IsEmpty()) << "a full block says 01 00";
    EXPECT_TRUE(IsAck(block(0, 0x01, 0x00)));
    EXPECT_TRUE(block(1, 0x01, 0x00).IsEmpty()) << "the last block holds 904 bytes";
    EXPECT_TRUE(IsAck(block(1, 0x00, 0x88)));
    EXPECT_TRUE(block(2, 0x00, 0x00).IsEmpty()) << "a block past the file";
    EXPECT_TRUE(IsAck(Answer(q, Request(0x03, 0x61, {0x02}))));
    ASSERT_EQ(q.Files().count("A:X.TXT"), 1u);
    EXPECT_EQ(q.Files().at("A:X.TXT").Length(), 5000);
}

TEST(TidDevice, IgnoresFramesFromAnotherSender) {
    auto d = Make("tid-scanner");
    TByteBuffer query = TScan_TID_Packet::QueryFrame(0x90);
    EXPECT_FALSE(Answer(*d, query).IsEmpty());
    query[frame::kSenderOffset + 3] = 0x01;
    query[query.Length() - 2] = frame::CheckByte(query.data() + 2, query.Length() - 4);
    EXPECT_TRUE(Answer(*d, query).IsEmpty());
}
