// Code-page conversion through the system's own tables (MultiByteToWideChar,
// WideCharToMultiByte). The calls are asked one character at a time where a
// byte may be unreadable, so that such a byte or pair stands for exactly one
// U+FFFD, as on Linux, and the rest of the text is still read.
#include "base/Codepage.h"

#include <cstdint>

#include <windows.h>

namespace tolm {

namespace {

constexpr const char* kReplacement = "\xEF\xBF\xBD";  // U+FFFD

void AppendUtf8(std::string& out, uint32_t cp) {
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

// The code point of the UTF-8 character at text[at], and its length; a stray
// or cut-off sequence is one unreadable character (nothing) of the bytes that
// belong to it.
struct TUtf8Char {
    bool valid = false;
    uint32_t codePoint = 0;
    size_t length = 1;
};
TUtf8Char NextUtf8(const std::string& text, size_t at) {
    const auto lead = static_cast<unsigned char>(text[at]);
    TUtf8Char c;
    if (lead < 0x80) return {true, lead, 1};
    const size_t length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 1;
    size_t n = 1;
    while (n < length && at + n < text.size() && (static_cast<unsigned char>(text[at + n]) & 0xC0) == 0x80) ++n;
    c.length = n;
    if (length == 1 || n < length || lead > 0xF4) return c;
    uint32_t cp = lead & (0xFF >> (length + 1));
    for (size_t i = 1; i < length; ++i) cp = (cp << 6) | (static_cast<unsigned char>(text[at + i]) & 0x3F);
    const uint32_t least[] = {0, 0, 0x80, 0x800, 0x10000};
    if (cp < least[length] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return c;
    return {true, cp, length};
}

// The code point of one whole character in the code page, or nothing.
bool DecodeOne(int codePage, const char* bytes, int count, uint32_t& cp) {
    wchar_t wide[2];
    const int n = MultiByteToWideChar(static_cast<UINT>(codePage), MB_ERR_INVALID_CHARS, bytes, count, wide, 2);
    if (n == 1) {
        cp = wide[0];
        return true;
    }
    if (n == 2 && wide[0] >= 0xD800 && wide[0] <= 0xDBFF) {
        cp = 0x10000 + ((static_cast<uint32_t>(wide[0]) - 0xD800) << 10) + (static_cast<uint32_t>(wide[1]) - 0xDC00);
        return true;
    }
    return false;
}

// The Windows code pages of two-byte characters: a lead byte and the byte
// after it that the table lacks are one unknown character, not two.
bool IsDoubleByte(int codePage) { return codePage == 932 || codePage == 936 || codePage == 949 || codePage == 950; }

}  // namespace

bool IsKnownCodePage(int codePage) { return codePage > 0 && IsValidCodePage(static_cast<UINT>(codePage)); }

std::string CodePageToUtf8(const std::string& bytes, int codePage) {
    std::string out;
    if (!IsKnownCodePage(codePage)) {  // Latin-1, byte for character
        for (unsigned char c : bytes) AppendUtf8(out, c);
        return out;
    }
    if (codePage == CP_UTF8) {
        for (size_t at = 0; at < bytes.size();) {
            const TUtf8Char c = NextUtf8(bytes, at);
            if (c.valid)
                AppendUtf8(out, c.codePoint);
            else
                out += kReplacement;
            at += c.length;
        }
        return out;
    }
    for (size_t at = 0; at < bytes.size();) {
        const auto lead = static_cast<unsigned char>(bytes[at]);
        uint32_t cp = 0;
        if (lead < 0x80) {
            out += static_cast<char>(lead);
            ++at;
            continue;
        }
        const bool leadByte = IsDBCSLeadByteEx(static_cast<UINT>(codePage), lead);
        if (leadByte && at + 1 < bytes.size() && DecodeOne(codePage, bytes.data() + at, 2, cp)) {
            AppendUtf8(out, cp);
            at += 2;
        } else if (!leadByte && DecodeOne(codePage, bytes.data() + at, 1, cp)) {
            AppendUtf8(out, cp);
            ++at;
        } else {
            out += kReplacement;
            const auto next = at + 1 < bytes.size() ? static_cast<unsigned char>(bytes[at + 1]) : 0;
            const bool pair = IsDoubleByte(codePage) && lead >= 0x81 && lead != 0xFF && next >= 0x40 && next != 0x7F &&
                              next != 0xFF;
            at += pair ? 2 : 1;
        }
    }
    return out;
}

std::string Utf8ToCodePage(const std::string& text, int codePage) {
    const bool known = IsKnownCodePage(codePage);
    std::string out;
    for (size_t at = 0; at < text.size();) {
        const TUtf8Char c = NextUtf8(text, at);
        at += c.length;
        if (!c.valid) {
            out += '?';
            continue;
        }
        if (c.codePoint < 0x80) {
            out += static_cast<char>(c.codePoint);
            continue;
        }
        if (!known) {  // Latin-1
            out += c.codePoint <= 0xFF ? static_cast<char>(c.codePoint) : '?';
            continue;
        }
        wchar_t wide[2];
        int wideCount = 1;
        if (c.codePoint >= 0x10000) {
            wide[0] = static_cast<wchar_t>(0xD800 + ((c.codePoint - 0x10000) >> 10));
            wide[1] = static_cast<wchar_t>(0xDC00 + ((c.codePoint - 0x10000) & 0x3FF));
            wideCount = 2;
        } else {
            wide[0] = static_cast<wchar_t>(c.codePoint);
        }
        char bytes[8];
        BOOL usedDefault = FALSE;
        const bool utf8 = codePage == CP_UTF8;
        const int n = WideCharToMultiByte(static_cast<UINT>(codePage), utf8 ? 0 : WC_NO_BEST_FIT_CHARS, wide, wideCount,
                                          bytes, sizeof bytes, nullptr, utf8 ? nullptr : &usedDefault);
        if (n <= 0 || usedDefault)
            out += '?';
        else
            out.append(bytes, static_cast<size_t>(n));
    }
    return out;
}

}  // namespace tolm
