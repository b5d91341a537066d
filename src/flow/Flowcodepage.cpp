#include "flow/Flowcodepage.h"

namespace tolm {

std::string DecodeDiagramText(const std::string& bytes, int codePage) { return CodePageToUtf8(bytes, codePage); }

std::string EncodeDiagramText(const std::string& text, int codePage) { return Utf8ToCodePage(text, codePage); }

}  // namespace tolm
