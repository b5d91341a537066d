#pragma once
// Shared set-up of the end-to-end tests: a temporary folder that is the port
// directory, the diagnostic log and the work folder; helpers to generate
// files, start devices and run the command line.
#include <gtest/gtest.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "Programs.h"
#include "TestSupport.h"

namespace tolm::e2e {

using test::RunResult;
using Device = test::BackgroundDevice;


class E2eTest : public ::testing::Test {
protected:
    void SetUp() override {
        setenv("TOLM_PORT_DIR", dir.Path().c_str(), 1);
        setenv("XDG_STATE_HOME", dir.Path().c_str(), 1);
    }

    // tolm-devsim gen KIND --out FILE --set ...
    std::string Generate(const std::string& kind, const std::string& name, const std::vector<std::string>& sets) {
        std::vector<std::string> args{"gen", kind, "--out", dir.File(name)};
        for (auto& s : sets) {
            args.push_back("--set");
            args.push_back(s);
        }
        auto r = test::Run(TOLM_DEVSIM, args, 30000);
        EXPECT_EQ(r.exitCode, 0) << r.err;
        return dir.File(name);
    }

    // tolm-devsim run DEVICE on port COMn, keeping its image in IMAGE.
    std::unique_ptr<Device> StartDevice(const std::string& device, int port, const std::vector<std::string>& sets) {
        std::vector<std::string> args{"run", device, "--link", dir.File("COM" + std::to_string(port)),
                                      "--image-out", dir.File("image-" + std::to_string(port))};
        for (auto& s : sets) {
            args.push_back("--set");
            args.push_back(s);
        }
        auto d = std::make_unique<Device>(TOLM_DEVSIM, args);
        EXPECT_FALSE(d->Pty().empty()) << "tolm-devsim " << device << " did not start";
        return d;
    }

    std::string Image(int port) { return dir.Read("image-" + std::to_string(port)); }

    RunResult Cli(const std::vector<std::string>& args, int timeoutMs = 240000) {
        return test::Run(TOLM_UPGRADE_CLI, args, timeoutMs);
    }

    // The bytes of file [from, from+count), each minus 10: what a device's flash
    // holds after receiving them.
    std::string Decoded(const std::string& path, size_t from, size_t count) {
        std::string bytes = dir.Read(path.substr(dir.Path().size() + 1)).substr(from, count);
        for (auto& c : bytes) c = static_cast<char>(static_cast<unsigned char>(c) - 10);
        return bytes;
    }

    test::TempDir dir;
};

}  // namespace tolm::e2e
