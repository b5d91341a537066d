#include "cli/Firmwarecopy.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <system_error>

#include "cli/Sha256.h"
#include "records/Systemservices.h"

namespace tolm::cli {

namespace fs = std::filesystem;

namespace {
// A path as UTF-8 text, as every name inside the program is.
std::string Utf8(const fs::path& path) {
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}

// The private folders are named "tolm-firmware-PID-N" after the process that made them.
const std::string kFolderPrefix = "tolm-firmware-";

// Removes the folders that processes which ended without their clean-up (a
// station killed, a crash) left behind; another user's stay where they are.
void RemoveLeftovers(const fs::path& base) {
    std::error_code error;
    for (auto it = fs::directory_iterator(base, error); !error && it != fs::directory_iterator(); it.increment(error)) {
        const std::string name = Utf8(it->path().filename());
        if (name.rfind(kFolderPrefix, 0) != 0) continue;
        const std::string rest = name.substr(kFolderPrefix.size());
        const size_t dash = rest.find('-');
        if (dash == 0 || dash == std::string::npos || rest.find_first_not_of("0123456789") != dash) continue;
        if (records::ProcessRunning(std::stol(rest.substr(0, dash)))) continue;
        std::error_code ignored;
        fs::remove_all(it->path(), ignored);
    }
}

// A new folder that only this user may enter, under the system's temporary folder.
bool MakePrivateFolder(std::string& folder, std::string& why) {
    std::error_code error;
    const fs::path base = fs::temp_directory_path(error);
    if (error) {
        why = "no temporary folder: " + error.message();
        return false;
    }
    RemoveLeftovers(base);
    std::random_device random;
    const std::string prefix = kFolderPrefix + std::to_string(records::ProcessId()) + "-";
    for (int attempt = 0; attempt < 20; ++attempt) {
        const fs::path candidate = base / (prefix + std::to_string(random()));
        if (fs::create_directory(candidate, error)) {
            fs::permissions(candidate, fs::perms::owner_all, fs::perm_options::replace, error);
            folder = Utf8(candidate);
            return true;
        }
        if (error) break;  // a failure other than a name already taken
    }
    why = "cannot make a folder in " + Utf8(base) + (error ? ": " + error.message() : "");
    return false;
}
}  // namespace

TFirmwareCopy::~TFirmwareCopy() {
    if (folder_.empty()) return;
    std::error_code ignored;
    fs::remove_all(FilePath(folder_), ignored);
}

bool TFirmwareCopy::Make(const std::string& path, std::string& why) {
    original_ = path;
    readFacts_ = RegularFileFacts(path);
    std::ifstream in(FilePath(path), std::ios::binary);
    if (!in) {
        why = "cannot read " + path + ": " + std::strerror(errno);
        return false;
    }
    const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (in.bad()) {
        why = "cannot read " + path + ": read error";
        return false;
    }
    TSha256 sha;
    sha.Add(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    sha256_ = sha.HexDigest();
    if (!MakePrivateFolder(folder_, why)) return false;
    copyPath_ = Utf8(FilePath(folder_) / FilePath(path).filename());
    std::ofstream out(FilePath(copyPath_), std::ios::binary);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    out.close();
    if (!out) {
        why = "cannot copy " + path + " to " + copyPath_;
        return false;
    }
    return true;
}

bool TFirmwareCopy::ChangedOnDisk() {
    if (changeTold_) return false;
    const auto now = RegularFileFacts(original_);
    const bool same = now && readFacts_ && now->Size == readFacts_->Size && now->ModifiedNs == readFacts_->ModifiedNs;
    if (same) return false;
    changeTold_ = true;
    return true;
}

}  // namespace tolm::cli
