#pragma once
// Small text functions: counting a character, splitting a field out of a
// text, and turning markup-like special characters into entities and back.
// Texts of any length are handled.
#include <string>

namespace tolm {

int CountChar(const std::string& text, char c);
// The n-th field (from 1) of text split at sep; empty when there are fewer fields.
std::string FieldOf(const std::string& text, char sep, int n);
// "<=" -> "&le;", ">=" -> "&ge;", & < > ' " , -> &amp; &lt; &gt; &apos; &quot; &CO;
std::string EscapeText(const std::string& text);
// The reverse; an "&" that does not start a complete entity is copied as it is.
std::string UnescapeText(const std::string& text);

}  // namespace tolm
