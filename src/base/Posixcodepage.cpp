// Code-page conversion through iconv (glibc knows the Windows code pages as
// "CPnnnn").
#include "base/Codepage.h"

#include <iconv.h>

#include <cerrno>
#include <cstddef>

namespace tolm {

namespace {

std::string IconvName(int codePage) { return codePage == 65001 ? "UTF-8" : "CP" + std::to_string(codePage); }

// The Windows code pages of two-byte characters: a lead byte and the byte
// after it that the table lacks are one unknown character, not two.
bool IsDoubleByte(int codePage) { return codePage == 932 || codePage == 936 || codePage == 949 || codePage == 950; }

// One conversion descriptor for the life of a call.
class TIconv {
public:
    TIconv(const std::string& to, const std::string& from) : cd_(iconv_open(to.c_str(), from.c_str())) {}
    ~TIconv() {
        if (Valid()) iconv_close(cd_);
    }
    TIconv(const TIconv&) = delete;
    TIconv& operator=(const TIconv&) = delete;
    bool Valid() const { return cd_ != reinterpret_cast<iconv_t>(-1); }

    // Converts all of in; where it cannot go on, skip writes what stands in
    // and tells how many bytes to pass over.
    template <typename Skip>
    std::string Convert(const std::string& in, Skip skip) {
        std::string out;
        char buffer[1024];
        char* from = const_cast<char*>(in.data());
        size_t left = in.size();
        while (left > 0) {
            char* to = buffer;
            size_t room = sizeof buffer;
            const size_t r = iconv(cd_, &from, &left, &to, &room);
            out.append(buffer, static_cast<size_t>(to - buffer));
            if (r != static_cast<size_t>(-1) || errno == E2BIG) continue;
            // EILSEQ, or EINVAL for a sequence cut off at the end.
            const size_t passed = skip(from, left, out);
            from += passed;
            left -= passed;
            iconv(cd_, nullptr, nullptr, nullptr, nullptr);  // back to the initial state
        }
        return out;
    }

private:
    iconv_t cd_;
};

constexpr const char* kReplacement = "\xEF\xBF\xBD";  // U+FFFD

// The bytes of the one UTF-8 character (or stray byte) that starts at at.
size_t Utf8CharLength(const char* at, size_t left) {
    const auto lead = static_cast<unsigned char>(at[0]);
    const size_t length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
    size_t n = 1;
    while (n < length && n < left && (static_cast<unsigned char>(at[n]) & 0xC0) == 0x80) ++n;
    return n;
}

std::string Latin1ToUtf8(const std::string& bytes) {
    std::string out;
    for (unsigned char c : bytes) {
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

}  // namespace

bool IsKnownCodePage(int codePage) { return codePage > 0 && TIconv("UTF-8", IconvName(codePage)).Valid(); }

std::string CodePageToUtf8(const std::string& bytes, int codePage) {
    if (!IsKnownCodePage(codePage)) return Latin1ToUtf8(bytes);
    TIconv iconv("UTF-8", IconvName(codePage));
    const bool doubleByte = IsDoubleByte(codePage);
    return iconv.Convert(bytes, [doubleByte](const char* at, size_t left, std::string& out) {
        out += kReplacement;
        const auto lead = static_cast<unsigned char>(at[0]);
        const auto next = left > 1 ? static_cast<unsigned char>(at[1]) : 0;
        return doubleByte && lead >= 0x81 && lead != 0xFF && next >= 0x40 && next != 0x7F && next != 0xFF ? size_t{2}
                                                                                                         : size_t{1};
    });
}

std::string Utf8ToCodePage(const std::string& text, int codePage) {
    TIconv iconv(IsKnownCodePage(codePage) ? IconvName(codePage) : "ISO-8859-1", "UTF-8");
    return iconv.Convert(text, [](const char* at, size_t left, std::string& out) {
        out += '?';
        return Utf8CharLength(at, left);
    });
}

}  // namespace tolm
