#pragma once
// Growable array of unsigned bytes that knows its length. Indexing outside
// 0..Length()-1 raises ERangeError, which is not a tolm::Exception: the upgrade
// sequences' error boxes do not catch it.
#include <cstdint>
#include <initializer_list>
#include <stdexcept>
#include <string>
#include <vector>

namespace tolm {

class ERangeError : public std::out_of_range {
public:
    using std::out_of_range::out_of_range;
};

class TByteBuffer {
public:
    TByteBuffer() = default;
    explicit TByteBuffer(int length, uint8_t fill = 0) : bytes_(length > 0 ? length : 0, fill) {}
    TByteBuffer(std::initializer_list<uint8_t> bytes) : bytes_(bytes) {}
    TByteBuffer(const uint8_t* data, size_t length) : bytes_(data, data + length) {}
    explicit TByteBuffer(std::vector<uint8_t> bytes) : bytes_(std::move(bytes)) {}
    static TByteBuffer FromText(const std::string& text) {
        return TByteBuffer(reinterpret_cast<const uint8_t*>(text.data()), text.size());
    }

    int Length() const { return static_cast<int>(bytes_.size()); }
    bool IsEmpty() const { return bytes_.empty(); }
    void SetLength(int length) { bytes_.resize(length > 0 ? length : 0); }

    uint8_t& operator[](int index) {
        CheckIndex(index);
        return bytes_[static_cast<size_t>(index)];
    }
    uint8_t operator[](int index) const {
        CheckIndex(index);
        return bytes_[static_cast<size_t>(index)];
    }

    // Bytes [from, from+count), range-checked.
    TByteBuffer Mid(int from, int count) const {
        if (count < 0 || from < 0 || from + count > Length())
            throw ERangeError("byte buffer range " + std::to_string(from) + "+" + std::to_string(count) +
                              " outside length " + std::to_string(Length()));
        return TByteBuffer(bytes_.data() + from, static_cast<size_t>(count));
    }
    void Append(const TByteBuffer& other) { bytes_.insert(bytes_.end(), other.bytes_.begin(), other.bytes_.end()); }
    void Append(uint8_t byte) { bytes_.push_back(byte); }
    std::string ToText() const { return std::string(bytes_.begin(), bytes_.end()); }

    const uint8_t* data() const { return bytes_.data(); }
    uint8_t* data() { return bytes_.data(); }
    const std::vector<uint8_t>& vector() const { return bytes_; }
    auto begin() const { return bytes_.begin(); }
    auto end() const { return bytes_.end(); }

    bool operator==(const TByteBuffer& other) const = default;

private:
    void CheckIndex(int index) const {
        if (index < 0 || index >= Length())
            throw ERangeError("byte buffer index " + std::to_string(index) + " outside length " +
                              std::to_string(Length()));
    }
    std::vector<uint8_t> bytes_;
};

}  // namespace tolm
