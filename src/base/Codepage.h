#pragma once
// Text in a Windows code page (950 is Traditional Chinese, Big5; 65001 is
// UTF-8) to UTF-8 and back. Each system converts with its own tables: iconv
// on Linux (Posixcodepage.cpp), MultiByteToWideChar and WideCharToMultiByte
// on Windows. Safe from any thread.
#include <string>

namespace tolm {

// True when this system's converters know the code page.
bool IsKnownCodePage(int codePage);

// The bytes as UTF-8 text. Each byte that starts no character of the code
// page becomes U+FFFD, and the bytes after it are read on. A code page the
// converters do not know decodes as Latin-1, byte for character, so that
// nothing is lost from the screen.
std::string CodePageToUtf8(const std::string& bytes, int codePage);

// UTF-8 text as bytes in the code page; a character the code page cannot
// hold (or a byte that is not UTF-8) becomes "?". An unknown code page
// encodes as Latin-1.
std::string Utf8ToCodePage(const std::string& text, int codePage);

}  // namespace tolm
