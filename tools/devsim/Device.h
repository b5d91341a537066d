#pragma once
// Emulated devices for tolm-devsim. Each device file registers itself with a
// name; the server (Server.cpp) feeds it the bytes the host writes on the pty
// and writes its replies back.
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "toolkit/ByteBuffer.h"

namespace tolm::devsim {

// Options given as --set key=value (and a few named flags the server maps).
class Options {
public:
    void Set(const std::string& key, const std::string& value) { values_[key] = value; }
    bool Has(const std::string& key) const { return values_.count(key) != 0; }
    std::string Get(const std::string& key, const std::string& fallback = "") const;
    long GetInt(const std::string& key, long fallback) const;  // decimal or 0x hex
    const std::map<std::string, std::string>& All() const { return values_; }

private:
    std::map<std::string, std::string> values_;
};

// The device's side of the line.
class Line {
public:
    virtual ~Line() = default;
    virtual void Write(const TByteBuffer& bytes) = 0;
};

class Device {
public:
    virtual ~Device() = default;
    // How many of the pending bytes form the next complete request: > 0 that
    // many; 0 more bytes are needed; -1 the first byte starts no request (the
    // server drops it).
    virtual int RequestLength(const TByteBuffer& pending) = 0;
    virtual void OnRequest(const TByteBuffer& request, Line& line) = 0;
    // Called about every 50 ms while the line is quiet (announcements).
    virtual void OnIdle(Line&) {}
    // The received image or flash as it should be compared with a file; empty
    // when the device keeps none.
    virtual TByteBuffer Image() const { return {}; }
    // True once after a transfer has ended, so the server saves the image then.
    virtual bool TakeImageComplete() { return false; }
    // True once after a transfer has started (its start request, not a repeat of it).
    virtual bool TakeTransferStart() { return false; }
    // The line speed the device runs at now, in bits per second, for a server
    // that emulates the line's timing; 0: the speed the server was given.
    virtual long LineSpeed() const { return 0; }
    // The speed the host had set on its end of the line when the bytes of the
    // next requests were read, in bits per second; 0 when it cannot be told.
    virtual void OnHostSpeed(long) {}
};

// True when an addressed frame carries the host's address, 00 00 00 00, as
// its sender; devices ignore any other.
bool SentByHost(const TByteBuffer& frame);

using DeviceFactory = std::function<std::unique_ptr<Device>(const Options&)>;
// A file generator: writes a file from options; returns a process exit code.
using Generator = std::function<int(const Options&)>;

struct Entry {
    std::string help;
    DeviceFactory device;
    Generator generator;
};

std::map<std::string, Entry>& Devices();
std::map<std::string, Entry>& Generators();

// Static registration: `static Registration reg("scanner", "help", factory);`
struct Registration {
    Registration(const std::string& name, const std::string& help, DeviceFactory factory);
    Registration(const std::string& name, const std::string& help, Generator generator);
};

}  // namespace tolm::devsim
