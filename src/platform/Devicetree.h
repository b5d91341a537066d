#pragma once
// A read-only tree of keys and text values, the shape in which port discovery
// reads what the operating system knows about its serial devices. Paths are
// key names joined by "\" (a leading or trailing "\" and doubled separators
// are ignored); key and value names compare without regard to ASCII case, as
// the discovery builds some paths from ids whose case differs from the keys.
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace tolm {

class TDeviceTree {
public:
    virtual ~TDeviceTree() = default;
    // True when the key exists and can be read.
    virtual bool KeyExists(const std::string& path) const = 0;
    // Names of the key's direct subkeys, in the tree's order (empty when the key cannot be read).
    virtual std::vector<std::string> KeyNames(const std::string& path) const = 0;
    // Names of the key's values, in the tree's order (empty when the key cannot be read).
    virtual std::vector<std::string> ValueNames(const std::string& path) const = 0;
    // The text of a named value; nothing when the key or value is missing or cannot be read.
    virtual std::optional<std::string> ReadString(const std::string& path, const std::string& name) const = 0;
};

// One key opened for reading, with the operations the discovery uses.
class TDeviceTreeKey {
public:
    // The key at path, or nothing when it does not exist or cannot be read.
    static std::optional<TDeviceTreeKey> OpenKeyReadOnly(const TDeviceTree& tree, const std::string& path);

    const std::string& Path() const { return path_; }
    std::vector<std::string> GetKeyNames() const { return tree_->KeyNames(path_); }
    std::vector<std::string> GetValueNames() const { return tree_->ValueNames(path_); }
    std::optional<std::string> ReadString(const std::string& name) const { return tree_->ReadString(path_, name); }

private:
    TDeviceTreeKey(const TDeviceTree& tree, std::string path) : tree_(&tree), path_(std::move(path)) {}
    const TDeviceTree* tree_;
    std::string path_;
};

// Splits a path into its key names.
std::vector<std::string> SplitDeviceTreePath(const std::string& path);

// A tree held in memory: built by tests, and by the workstation's tree from what it finds.
class TMemoryDeviceTree : public TDeviceTree {
public:
    TMemoryDeviceTree();
    ~TMemoryDeviceTree() override;
    TMemoryDeviceTree(TMemoryDeviceTree&&) noexcept;
    TMemoryDeviceTree& operator=(TMemoryDeviceTree&&) noexcept;

    // Creates the key and any missing key above it.
    void AddKey(const std::string& path);
    // Creates the key if needed and sets (or replaces) a text value, keeping its place.
    void SetValue(const std::string& path, const std::string& name, const std::string& text);
    // A key that exists but cannot be opened (as one without read permission).
    void MakeKeyUnreadable(const std::string& path);
    // A value that is listed but whose text cannot be read (as one of another type).
    void MakeValueUnreadable(const std::string& path, const std::string& name);

    bool KeyExists(const std::string& path) const override;
    std::vector<std::string> KeyNames(const std::string& path) const override;
    std::vector<std::string> ValueNames(const std::string& path) const override;
    std::optional<std::string> ReadString(const std::string& path, const std::string& name) const override;

private:
    struct Node;
    const Node* Find(const std::string& path) const;
    Node& Make(const std::string& path);
    std::unique_ptr<Node> root_;
};

// The operating-system version record (148 bytes, its size in the first field).
struct TOSVersionInfo {
    uint32_t dwOSVersionInfoSize = 0;
    uint32_t dwMajorVersion = 0;
    uint32_t dwMinorVersion = 0;
    uint32_t dwBuildNumber = 0;
    uint32_t dwPlatformId = 0;
    char szCSDVersion[128] = {};
};
static_assert(sizeof(TOSVersionInfo) == 148);

// This workstation's serial ports as a device tree, as they are when it is
// made: the registry on Windows (Win32devicetree.h), sysfs presented under
// the same keys on Linux (Posixdevicetree.h).
std::shared_ptr<const TDeviceTree> MakeWorkstationDeviceTree();

// Fills the version record of the running system; false when the query
// fails. On Windows it is the system's own (GetVersionExA); on Linux, whose
// tree presents the layout of major version 5, it reports 5.1 with the
// kernel's name and release as the service-pack text.
bool QueryOSVersion(TOSVersionInfo& info);

}  // namespace tolm
