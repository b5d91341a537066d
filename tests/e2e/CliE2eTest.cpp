// The command line's own failure paths and its other commands.
#include <sys/stat.h>
#include <unistd.h>

#include <nlohmann/json.hpp>

#include <algorithm>
#include <filesystem>

#include "E2eFixture.h"

using namespace tolm::e2e;

namespace {
nlohmann::json ParseJson(const std::string& text) {
    auto doc = nlohmann::json::parse(text, nullptr, false);
    EXPECT_FALSE(doc.is_discarded()) << "not JSON:\n" << text;
    return doc;
}

nlohmann::json PortEntry(const nlohmann::json& list, int number) {
    if (list.is_array())
        for (const auto& entry : list)
            if (entry.value("port", 0) == number) return entry;
    ADD_FAILURE() << "no entry for port " << number;
    return nlohmann::json::object();
}

std::string Text(const nlohmann::json& o, const char* key) { return o.is_object() ? o.value(key, std::string()) : ""; }

std::string FromHex(const std::string& hex) {
    std::string bytes;
    for (size_t i = 0; i + 1 < hex.size(); i += 2) bytes += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
    return bytes;
}
}  // namespace

TEST_F(E2eTest, NoDeviceOnThePortIsAConnectionError) {
    auto fw = Generate("scanner-fw", "lb1y.bin", {});
    tolm::test::PtyPair silent;
    tolm::test::LinkPort(dir, 3, silent.SlavePath());
    auto r = Cli({"upgrade", "--port", "3", fw});
    EXPECT_EQ(r.exitCode, 1);
    EXPECT_EQ(r.LastOutLine(), "G006.0 Connection Error");
}

TEST_F(E2eTest, PortThatCannotBeOpenedExitsWithThree) {
    auto fw = Generate("scanner-fw", "lb1y.bin", {});
    tolm::test::LinkPort(dir, 9, dir.File("no-such-device"));
    auto r = Cli({"upgrade", "--port", "9", fw});
    EXPECT_EQ(r.exitCode, 3);
    EXPECT_NE(r.err.find("E001: Warn ComPort to be unable to open"), std::string::npos) << r.err;
}

TEST_F(E2eTest, MissingUnreadableOrUnknownFilesAreRefusedBeforeThePort) {
    auto missing = Cli({"upgrade", "--port", "9", dir.File("none.bin")});
    EXPECT_EQ(missing.exitCode, 2);
    EXPECT_NE(missing.err.find("none.bin"), std::string::npos);

    dir.Write("junk.bin", std::string(300000, 'j'));
    auto junk = Cli({"upgrade", "--port", "9", dir.File("junk.bin")});
    EXPECT_EQ(junk.exitCode, 2);
    EXPECT_EQ(junk.LastOutLine(), "G001.1 Upgrade file invalid");

    auto folder = Cli({"upgrade", dir.Path()});
    EXPECT_EQ(folder.exitCode, 2);
    EXPECT_NE(folder.err.find("directory"), std::string::npos);

    auto usage = Cli({"upgrade", "--port", "x", dir.File("junk.bin")});
    EXPECT_EQ(usage.exitCode, 2);
}

TEST_F(E2eTest, OldQuorinVersionIsRefusedByTheCheck) {
    auto fw = Generate("quorin-firmware", "old.bin", {"version=104"});
    auto r = Cli({"upgrade", "--port", "9", fw});
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_NE(r.err.find("Fireware 版本小於105"), std::string::npos) << r.err;
}

TEST_F(E2eTest, IdentifyTellsFamilyModelAndVerdict) {
    auto fw = Generate("scanner-fw", "lb1y.bin", {"kernel=4"});
    auto r = Cli({"identify", "--json", fw});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    const auto json = ParseJson(r.out);
    EXPECT_EQ(json.value("family", 0), 2) << r.out;
    EXPECT_EQ(Text(json, "family_code"), "2LB") << r.out;
    EXPECT_EQ(Text(json, "model_code"), "LB1Y") << r.out;
    EXPECT_EQ(Text(json, "kernel_digit"), "4") << r.out;
    EXPECT_EQ(json.value("accepted", false), true) << r.out;
    EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 1) << "one line per file";

    dir.Write("short.bin", std::string(100, '\x3D'));
    auto bad = Cli({"identify", dir.File("short.bin")});
    EXPECT_EQ(bad.exitCode, 1);
    EXPECT_NE(bad.out.find("accepted:       no"), std::string::npos) << bad.out;
}

TEST_F(E2eTest, PortsListsLinksAndUnlinks) {
    tolm::test::PtyPair line;
    dir.Write("COM12.id", "usb-0403-6001-GONE\n");  // the number was an unplugged adapter's: the operator takes it
    auto link = Cli({"ports", "link", "COM12", line.SlavePath()});
    EXPECT_EQ(link.exitCode, 0) << link.err;
    auto list = Cli({"ports", "--json"});
    EXPECT_EQ(list.exitCode, 0) << list.err;
    const auto com12 = PortEntry(ParseJson(list.out), 12);
    EXPECT_EQ(Text(com12, "name"), "COM12") << list.out;
    EXPECT_EQ(Text(com12, "state"), "free") << list.out;
    EXPECT_EQ(Cli({"ports", "unlink", "com12"}).exitCode, 0);
    EXPECT_EQ(Cli({"ports", "unlink", "COM12"}).exitCode, 1);
    EXPECT_EQ(Cli({"ports", "link", "XYZ", line.SlavePath()}).exitCode, 2);

    // The emulator linked in an automatic number's place takes it over: the record goes with the old link.
    const std::string gone = "unplugged-usb-0403-6001-GONE-if00";
    dir.Write("COM13.id", "usb-0403-6001-GONE-if00\nat 1-9:1.0\nto " + gone + "\n");
    ASSERT_EQ(symlink(gone.c_str(), dir.File("COM13").c_str()), 0);
    auto device = StartDevice("scanner", 13, {});
    EXPECT_FALSE(std::filesystem::exists(dir.File("COM13.id")));
    auto listed = Cli({"ports"});
    EXPECT_NE(listed.out.find("COM13 "), std::string::npos) << listed.out << listed.err;
    device->Stop();
    struct stat st {};
    EXPECT_NE(lstat(dir.File("COM13").c_str(), &st), 0) << "the emulator left its link behind";
}

TEST_F(E2eTest, UsageErrorsExitWithTwoAndHelpWithZero) {
    dir.Write("f.bin", "x");
    const std::string f = dir.File("f.bin");
    const std::vector<std::vector<std::string>> wrong{
        {},
        {"flash"},
        {"upgrade"},
        {"upgrade", "--port"},
        {"upgrade", "--wait", "1x", f},
        {"upgrade", "--json", f},
        {"identify", f, f},
        {"split"},
        {"ports", "move"},
        {"ports", "link", "COM3"},
        {"ports", "unlink", "tty3"},
        {"quorin"},
        {"quorin", "zap"},
        {"quorin", "put", "--drive", "C", f},
        {"quorin", "df", "--selector", "2"},
        {"quorin", "dir", "extra"},
        {"kv", "send", f, "--chunk", "64"},
        {"kv", "send", f, "--chunk", "64", "--pause", "20", "--reply"},
        {"kv", "send", f, "--baud", "fast"},
    };
    for (const auto& args : wrong) {
        auto r = Cli(args);
        std::string line;
        for (const auto& a : args) line += " " + a;
        EXPECT_EQ(r.exitCode, 2) << "tolm-upgrade-cli" << line << "\n" << r.err;
        EXPECT_NE(r.err.find("tolm-upgrade-cli"), std::string::npos) << line << ": says nothing on stderr";
    }
    for (const auto& args : std::vector<std::vector<std::string>>{
             {"--help"}, {"help"}, {"upgrade", "--help"}, {"quorin", "put", "--help"}, {"kv", "send", "--help"}}) {
        auto r = Cli(args);
        EXPECT_EQ(r.exitCode, 0) << args.front();
        EXPECT_NE(r.out.find("Usage: tolm-upgrade-cli"), std::string::npos) << r.out;
    }
    auto version = Cli({"--version"});
    EXPECT_EQ(version.exitCode, 0);
    EXPECT_EQ(version.LastOutLine(), "tolm-upgrade-cli 3.4.8");
}

TEST_F(E2eTest, JsonStaysValidForNamesThatAreNotUtf8) {
    // A Latin-1 file name, as copied from an old workstation: "Übung.bin";
    // and one cut off in the middle of a character, whose last bytes are
    // still named.
    for (const std::string name : {"\xDC" "bung.bin", "fw-\xE4\xB8"}) {
        const std::string fw = Generate("scanner-fw", name, {});
        auto r = Cli({"identify", "--json", fw});
        EXPECT_EQ(r.exitCode, 0) << r.err;
        const auto file = ParseJson(r.out);
        const std::string shown = name[0] == '\xDC' ? "\uFFFD" "bung.bin" : "fw-\uFFFD\uFFFD";
        EXPECT_TRUE(Text(file, "file").ends_with("/" + shown)) << r.out;
        EXPECT_EQ(FromHex(Text(file, "file_hex")), fw) << r.out;
    }

    // A port directory whose path is not UTF-8 either.
    const std::string ports = dir.File("ports" "\xFF");
    setenv("TOLM_PORT_DIR", ports.c_str(), 1);
    tolm::test::PtyPair line;
    ASSERT_EQ(Cli({"ports", "link", "COM12", line.SlavePath()}).exitCode, 0);
    auto list = Cli({"ports", "--json"});
    const auto com12 = PortEntry(ParseJson(list.out), 12);
    EXPECT_EQ(FromHex(Text(com12, "device_hex")), ports + "/COM12") << list.out;
}

TEST_F(E2eTest, QuorinPutTakesItsOptionsAroundTheVerbAndWritesTheLog) {
    dir.Write("notes.txt", std::string(3000, 'n'));
    auto dev = StartDevice("quorin", 7, {"announce-ms=300"});
    auto r = Cli({"quorin", "--port", "7", "--log", dir.File("quorin.log"), "put", "--drive=B", "--wait", "20",
                  dir.File("notes.txt")});
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(r.LastOutLine(), "sent");
    EXPECT_NE(dir.Read("quorin.log").find("\r\n"), std::string::npos) << "--log was not used";
}
