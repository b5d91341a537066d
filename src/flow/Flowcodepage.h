#pragma once
// Diagram text is kept as the bytes the file holds: 8-bit text in the code
// page of the station that wrote it (950, Traditional Chinese Big5, on the
// operators' stations). It is decoded only to be painted or edited, so that
// reading and saving a file never changes a byte of it.
#include <string>

#include "base/Codepage.h"

namespace tolm {

constexpr int kDefaultDiagramCodePage = 950;

// The bytes as UTF-8 text, read in the given Windows code page (65001 is
// UTF-8; Codepage.h says how unknown bytes and code pages are read).
std::string DecodeDiagramText(const std::string& bytes, int codePage);

// UTF-8 text typed by an operator as bytes in the given code page;
// characters the code page cannot hold become "?".
std::string EncodeDiagramText(const std::string& text, int codePage);

}  // namespace tolm
