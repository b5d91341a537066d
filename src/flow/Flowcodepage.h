#pragma once
// Diagram text is kept as the bytes the file holds: 8-bit text in the code
// page of the station that wrote it (950, Traditional Chinese Big5, on the
// operators' stations). It is decoded only to be painted or edited, so that
// reading and saving a file never changes a byte of it.
#include <QString>

#include <string>

namespace tolm {

constexpr int kDefaultDiagramCodePage = 950;

// The bytes as text in the given Windows code page (65001 is UTF-8). A code
// page the platform's converters do not know decodes as Latin-1, byte for
// character, so that nothing is lost from the screen.
QString DecodeDiagramText(const std::string& bytes, int codePage);

// Text typed by an operator as bytes in the given code page; characters the
// code page cannot hold become "?".
std::string EncodeDiagramText(const QString& text, int codePage);

// True when the platform's converters know the code page.
bool IsKnownCodePage(int codePage);

}  // namespace tolm
