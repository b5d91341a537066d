#pragma once
// What the fuzz targets share: a property check that stops the run with a
// message, one scratch file per process that each input is written to, and a
// message sink that counts operator messages instead of showing them.
#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "toolkit/Messages.h"

namespace tolm::fuzz {

// A broken property is a finding: report it and abort, so that libFuzzer
// keeps the input. (assert() is compiled out in the optimised fuzz build.)
#define FUZZ_CHECK(condition, what)                                                                     \
    do {                                                                                                \
        if (!(condition)) {                                                                             \
            std::fprintf(stderr, "FUZZ_CHECK failed at %s:%d: %s\n  (%s)\n", __FILE__, __LINE__, what,  \
                         #condition);                                                                   \
            std::abort();                                                                               \
        }                                                                                               \
    } while (0)

inline std::string AsText(const uint8_t* data, size_t size) {
    return std::string(reinterpret_cast<const char*>(data), size);
}

// A private folder made once per process; Write replaces the file's content
// each time, so that every input is read from the same path.
class TScratchFile {
public:
    explicit TScratchFile(const std::string& fileName) {
        const char* tmp = std::getenv("TMPDIR");
        std::string pattern = std::string(tmp && *tmp ? tmp : "/tmp") + "/tolm-fuzz-XXXXXX";
        if (!mkdtemp(pattern.data())) {
            std::perror("mkdtemp");
            std::abort();
        }
        dir_ = pattern;
        path_ = dir_ + "/" + fileName;
    }
    ~TScratchFile() {
        std::error_code ec;
        std::filesystem::remove_all(dir_, ec);
    }
    TScratchFile(const TScratchFile&) = delete;
    TScratchFile& operator=(const TScratchFile&) = delete;

    const std::string& Dir() const { return dir_; }
    const std::string& Path() const { return path_; }

    void Write(const uint8_t* data, size_t size) const { WriteTo(path_, data, size); }

    static void WriteTo(const std::string& path, const uint8_t* data, size_t size) {
        int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        if (fd < 0) {
            std::perror(path.c_str());
            std::abort();
        }
        size_t done = 0;
        while (done < size) {
            ssize_t n = write(fd, data + done, size - done);
            if (n <= 0) {
                std::perror("write");
                std::abort();
            }
            done += static_cast<size_t>(n);
        }
        close(fd);
    }

private:
    std::string dir_;
    std::string path_;
};

// Counts the messages the code under test shows; nothing reaches a screen.
class TCountingSink : public IMessageSink {
public:
    void Show(const std::string& text, const std::string&, TMsgIcon) override {
        ++Count;
        Last = text;
    }
    int Count = 0;
    std::string Last;
};

}  // namespace tolm::fuzz
