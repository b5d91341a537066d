#include "Device.h"

#include <cstdlib>

#include "protocol/Frame.h"

namespace tolm::devsim {

std::string Options::Get(const std::string& key, const std::string& fallback) const {
    auto it = values_.find(key);
    return it == values_.end() ? fallback : it->second;
}

long Options::GetInt(const std::string& key, long fallback) const {
    auto it = values_.find(key);
    if (it == values_.end() || it->second.empty()) return fallback;
    char* end = nullptr;
    long v = std::strtol(it->second.c_str(), &end, 0);
    return (end && *end == '\0') ? v : fallback;
}

bool SentByHost(const TByteBuffer& frame) {
    return frame.Length() >= frame::kSenderOffset + 4 &&
           frame.Mid(frame::kSenderOffset, 4) == TByteBuffer{0x00, 0x00, 0x00, 0x00};
}

std::map<std::string, Entry>& Devices() {
    static std::map<std::string, Entry> devices;
    return devices;
}

std::map<std::string, Entry>& Generators() {
    static std::map<std::string, Entry> generators;
    return generators;
}

Registration::Registration(const std::string& name, const std::string& help, DeviceFactory factory) {
    Devices()[name] = Entry{help, std::move(factory), {}};
}

Registration::Registration(const std::string& name, const std::string& help, Generator generator) {
    Generators()[name] = Entry{help, {}, std::move(generator)};
}

}  // namespace tolm::devsim
