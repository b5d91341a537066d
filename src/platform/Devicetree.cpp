#include "platform/Devicetree.h"

#include <algorithm>

namespace tolm {

namespace {

bool SameName(const std::string& a, const std::string& b) {
    auto lower = [](unsigned char c) { return (c >= 'A' && c <= 'Z') ? c + ('a' - 'A') : c; };
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(),
                      [&](char x, char y) { return lower(static_cast<unsigned char>(x)) == lower(static_cast<unsigned char>(y)); });
}

}  // namespace

std::optional<TDeviceTreeKey> TDeviceTreeKey::OpenKeyReadOnly(const TDeviceTree& tree, const std::string& path) {
    if (!tree.KeyExists(path)) return std::nullopt;
    return TDeviceTreeKey(tree, path);
}

std::vector<std::string> SplitDeviceTreePath(const std::string& path) {
    std::vector<std::string> names;
    size_t start = 0;
    while (start <= path.size()) {
        size_t end = path.find('\\', start);
        if (end == std::string::npos) end = path.size();
        if (end > start) names.push_back(path.substr(start, end - start));
        start = end + 1;
    }
    return names;
}

struct TMemoryDeviceTree::Node {
    struct Value {
        std::string name;
        std::string text;
        bool readable = true;
    };
    std::string name;
    bool readable = true;
    std::vector<std::unique_ptr<Node>> children;  // kept in the order they were added
    std::vector<Value> values;

    Node* Child(const std::string& childName) const {
        for (auto& child : children)
            if (SameName(child->name, childName)) return child.get();
        return nullptr;
    }
    Value* FindValue(const std::string& valueName) {
        for (auto& value : values)
            if (SameName(value.name, valueName)) return &value;
        return nullptr;
    }
    const Value* FindValue(const std::string& valueName) const {
        return const_cast<Node*>(this)->FindValue(valueName);
    }
};

TMemoryDeviceTree::TMemoryDeviceTree() : root_(std::make_unique<Node>()) {}
TMemoryDeviceTree::~TMemoryDeviceTree() = default;
TMemoryDeviceTree::TMemoryDeviceTree(TMemoryDeviceTree&&) noexcept = default;
TMemoryDeviceTree& TMemoryDeviceTree::operator=(TMemoryDeviceTree&&) noexcept = default;

const TMemoryDeviceTree::Node* TMemoryDeviceTree::Find(const std::string& path) const {
    const Node* node = root_.get();
    for (const auto& name : SplitDeviceTreePath(path)) {
        node = node->Child(name);
        if (!node) return nullptr;
    }
    return node;
}

TMemoryDeviceTree::Node& TMemoryDeviceTree::Make(const std::string& path) {
    Node* node = root_.get();
    for (const auto& name : SplitDeviceTreePath(path)) {
        Node* child = node->Child(name);
        if (!child) {
            node->children.push_back(std::make_unique<Node>());
            child = node->children.back().get();
            child->name = name;
        }
        node = child;
    }
    return *node;
}

void TMemoryDeviceTree::AddKey(const std::string& path) { Make(path); }

void TMemoryDeviceTree::SetValue(const std::string& path, const std::string& name, const std::string& text) {
    Node& node = Make(path);
    if (auto* value = node.FindValue(name)) {
        value->text = text;
        value->readable = true;
    } else {
        node.values.push_back({name, text, true});
    }
}

void TMemoryDeviceTree::MakeKeyUnreadable(const std::string& path) { Make(path).readable = false; }

void TMemoryDeviceTree::MakeValueUnreadable(const std::string& path, const std::string& name) {
    Node& node = Make(path);
    if (auto* value = node.FindValue(name))
        value->readable = false;
    else
        node.values.push_back({name, std::string(), false});
}

bool TMemoryDeviceTree::KeyExists(const std::string& path) const {
    const Node* node = Find(path);
    return node && node->readable;
}

std::vector<std::string> TMemoryDeviceTree::KeyNames(const std::string& path) const {
    std::vector<std::string> names;
    const Node* node = Find(path);
    if (!node || !node->readable) return names;
    for (auto& child : node->children) names.push_back(child->name);
    return names;
}

std::vector<std::string> TMemoryDeviceTree::ValueNames(const std::string& path) const {
    std::vector<std::string> names;
    const Node* node = Find(path);
    if (!node || !node->readable) return names;
    for (auto& value : node->values) names.push_back(value.name);
    return names;
}

std::optional<std::string> TMemoryDeviceTree::ReadString(const std::string& path, const std::string& name) const {
    const Node* node = Find(path);
    if (!node || !node->readable) return std::nullopt;
    const Node::Value* value = node->FindValue(name);
    if (!value || !value->readable) return std::nullopt;
    return value->text;
}

}  // namespace tolm
