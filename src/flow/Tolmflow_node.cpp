#include "flow/Tolmflow_node.h"

#include <algorithm>

#include "app/Strfunc.h"
#include "flow/Flowtext.h"
#include "flow/Tolmflow_link.h"
#include "toolkit/Exception.h"

namespace tolm {

using flowtext::StrToInt;

namespace {

// Sum without signed overflow: edges wrap like the 32-bit values they are.
int AddWrapped(int a, int b) { return static_cast<int>(static_cast<int64_t>(a) + b); }
int SubWrapped(int a, int b) { return static_cast<int>(static_cast<int64_t>(a) - b); }

const char* BoolText(bool v) { return v ? "true" : "false"; }

const char kHexDigits[] = "0123456789ABCDEF";

void AppendHex(std::string& out, uint32_t value, int digits) {
    for (int shift = (digits - 1) * 4; shift >= 0; shift -= 4) out += kHexDigits[(value >> shift) & 0xF];
}

// The separator of lines inside the "Lines" value.
const std::string kLineBreak = "&Enter;";

// A CR or LF inside a text value would end the node line, and the rest of the
// node would be lost on reading. They are stored as "&CR;" and "&LF;", which
// EscapeText never writes (it turns every "&" into "&amp;"), so every other
// value reads exactly as before and these round-trip.
const std::string kCrEntity = "&CR;";
const std::string kLfEntity = "&LF;";

std::string StoreText(const std::string& text) {
    const std::string escaped = EscapeText(text);
    if (escaped.find_first_of("\r\n") == std::string::npos) return escaped;
    std::string out;
    for (char c : escaped) out += c == '\r' ? kCrEntity : c == '\n' ? kLfEntity : std::string(1, c);
    return out;
}

std::string LoadText(const std::string& stored) {
    if (stored.find(kCrEntity) == std::string::npos && stored.find(kLfEntity) == std::string::npos)
        return UnescapeText(stored);
    std::string raw;
    for (size_t i = 0; i < stored.size();) {
        if (stored.compare(i, kCrEntity.size(), kCrEntity) == 0) {
            raw += '\r';
            i += kCrEntity.size();
        } else if (stored.compare(i, kLfEntity.size(), kLfEntity) == 0) {
            raw += '\n';
            i += kLfEntity.size();
        } else {
            raw += stored[i++];
        }
    }
    return UnescapeText(raw);
}

}  // namespace

TTolmFlow_Node::TTolmFlow_Node(TTolmFlow* owner) : TFlowComponent(owner) {}

TTolmFlow_Node::~TTolmFlow_Node() {
    // Links that still end here must not keep a pointer to a freed node.
    for (TTolmFlow_Link* link : inLinks_) link->ForgetNode(this);
    for (TTolmFlow_Link* link : outLinks_) link->ForgetNode(this);
}

// ---------------------------------------------------------------- geometry

void TTolmFlow_Node::SetLeft(int v) {
    left_ = v;
    moved_ = true;
}

void TTolmFlow_Node::SetTop(int v) {
    top_ = v;
    moved_ = true;
}

int TTolmFlow_Node::Width() const { return SubWrapped(right_, left_); }

void TTolmFlow_Node::SetWidth(int v) {
    right_ = AddWrapped(left_, v);
    moved_ = true;
}

int TTolmFlow_Node::Height() const { return SubWrapped(bottom_, top_); }

void TTolmFlow_Node::SetHeight(int v) {
    bottom_ = AddWrapped(top_, v);
    moved_ = true;
}

// ---------------------------------------------------------------- links

namespace {
void AddOnce(std::vector<TTolmFlow_Link*>& list, TTolmFlow_Link* link) {
    if (link && std::find(list.begin(), list.end(), link) == list.end()) list.push_back(link);
}
void RemoveFrom(std::vector<TTolmFlow_Link*>& list, TTolmFlow_Link* link) {
    list.erase(std::remove(list.begin(), list.end(), link), list.end());
}
}  // namespace

void TTolmFlow_Node::Add_AtInLinkObjects(TTolmFlow_Link* link) { AddOnce(inLinks_, link); }
void TTolmFlow_Node::Add_AtOutLinkObjects(TTolmFlow_Link* link) { AddOnce(outLinks_, link); }
void TTolmFlow_Node::Delete_AtInLinkObjects(TTolmFlow_Link* link) { RemoveFrom(inLinks_, link); }
void TTolmFlow_Node::Delete_AtOutLinkObjects(TTolmFlow_Link* link) { RemoveFrom(outLinks_, link); }

// ---------------------------------------------------------------- node line

std::string TTolmFlow_Node::GetNodeStructure() const {
    std::string s = "Node ";
    s += "Name=" + EscapeText(Name());
    s += ", Left=" + std::to_string(Left());
    s += ", Top=" + std::to_string(Top());
    s += ", Height=" + std::to_string(Height());
    s += ", Width=" + std::to_string(Width());
    s += ", Shape=" + std::to_string(shape_);
    s += ", Tag=" + std::to_string(tag_);
    s += ", Text_Layout=" + std::to_string(static_cast<int>(textLayout_));
    s += std::string(", Visible=") + BoolText(visible_);
    s += std::string(", Lock=") + BoolText(lock_);
    s += ", Key=" + StoreText(key_);
    s += ", Run=" + StoreText(run_);
    s += ", Lines=" + StoreText(GetTStringToAnsiString(lines_));
    s += ", LineWidth=" + std::to_string(lineWidth_);
    s += ", LineColor=" + EscapeText(GetColorToAnsiString(lineColor_));
    s += ", BackColor=" + EscapeText(GetColorToAnsiString(backColor_));
    s += ", Font=" + StoreText(GetFontToAnsiString(font_));
    s += ", BeginColor=" + EscapeText(GetColorToAnsiString(beginColor_));
    s += ", EndColor=" + EscapeText(GetColorToAnsiString(endColor_));
    s += ", Bitmap=" + GetBitmapToAnsiString(image_);
    return s;
}

void TTolmFlow_Node::SetNodeStructure(const std::string& text) {
    // Every comma inside a value is escaped, so commas only separate fields.
    for (const std::string& field : flowtext::SplitAll(text, ',')) {
        flowtext::TField f = flowtext::SplitField(field);
        ApplyField(f.Key, f.Value);
    }
}

void TTolmFlow_Node::ApplyField(const std::string& key, const std::string& value) {
    if (key == "Name") {
        SetName(UnescapeText(value));
    } else if (key == "Left") {
        SetLeft(StrToInt(value));
    } else if (key == "Top") {
        SetTop(StrToInt(value));
    } else if (key == "Height") {
        SetHeight(StrToInt(value));
    } else if (key == "Width") {
        SetWidth(StrToInt(value));
    } else if (key == "Shape") {
        shape_ = StrToInt(value);
    } else if (key == "Tag") {
        tag_ = StrToInt(value);
    } else if (key == "LineWidth") {
        lineWidth_ = StrToInt(value);
    } else if (key == "Text_Layout") {
        int layout = StrToInt(value);
        if (layout < 0 || layout > 8) throw EConvertError("Text layout " + value + " is not in 0-8");
        textLayout_ = static_cast<TLayout>(layout);
    } else if (key == "Visible") {
        visible_ = value == "true";
    } else if (key == "Lock") {
        lock_ = value == "true";
    } else if (key == "Key") {
        key_ = LoadText(value);
    } else if (key == "Run") {
        run_ = LoadText(value);
    } else if (key == "Lines") {
        SetAnsiStringToTString(LoadText(value));
    } else if (key == "LineColor") {
        lineColor_ = SetAnsiStringTocolor(UnescapeText(value));
    } else if (key == "BackColor") {
        backColor_ = SetAnsiStringTocolor(UnescapeText(value));
    } else if (key == "BeginColor") {
        beginColor_ = SetAnsiStringTocolor(UnescapeText(value));
    } else if (key == "EndColor") {
        endColor_ = SetAnsiStringTocolor(UnescapeText(value));
    } else if (key == "Font") {
        SetAnsiStringToFont(LoadText(value));
    } else if (key == "Bitmap") {
        SetAnsiStringToBitmap(value);
    }
}

void TTolmFlow_Node::SetNodeStructure_FilePoint(std::istream& in) {
    // Keys end with "="; a key text that is not followed by a known key is an
    // unknown field, whose value is skipped like the line reader skips it.
    // The stream buffer is read directly: values may be megabytes long.
    std::streambuf& buf = *in.rdbuf();
    constexpr int kEof = std::char_traits<char>::eof();
    // A line end is LF or the pair CR LF (both consumed).
    auto atLineEnd = [&buf](int c) {
        if (c == '\n') return true;
        if (c == '\r' && buf.sgetc() == '\n') {
            buf.sbumpc();
            return true;
        }
        return false;
    };
    std::string keyText;
    for (int c = buf.sbumpc(); c != kEof; c = buf.sbumpc()) {
        if (atLineEnd(c)) return;  // the line ended without a picture
        if (c != '=') {
            keyText += static_cast<char>(c);
            continue;
        }
        const std::string key = flowtext::Trim(keyText);
        keyText.clear();
        if (key == "Bitmap") {
            ReadPicture(in);
            return;
        }
        std::string value;
        bool lineEnded = true;  // also at the end of the file
        for (c = buf.sbumpc(); c != kEof; c = buf.sbumpc()) {
            if (c == ',') {
                lineEnded = false;
                break;
            }
            if (atLineEnd(c)) break;
            value += static_cast<char>(c);
        }
        ApplyField(key, value);
        if (lineEnded) return;
    }
}

void TTolmFlow_Node::ReadPicture(std::istream& in) {
    auto readChars = [&in](size_t count) {
        std::string s(count, '\0');
        in.read(s.data(), static_cast<std::streamsize>(count));
        s.resize(static_cast<size_t>(in.gcount()));
        return s;
    };
    TFlowPicture picture = image_;
    picture.SetPixelFormat(HexToInt(readChars(1)));
    const int width = HexToInt(readChars(4));
    const int height = HexToInt(readChars(4));
    picture.SetSize(0, 0);  // a fresh white picture, not the old pixels
    picture.SetSize(width, height);
    for (int x = 0; x < width; ++x) {
        for (int y = 0; y < height; ++y) {
            std::string group = readChars(6);
            if (group.size() < 6) {  // the file ended inside the picture
                image_ = std::move(picture);
                return;
            }
            picture.SetPixel(x, y, static_cast<TColor>(HexToInt(group)));
        }
    }
    image_ = std::move(picture);
}

// ---------------------------------------------------------------- value texts

std::string TTolmFlow_Node::GetColorToAnsiString(TColor color) {
    return std::to_string(RedOf(color)) + "," + std::to_string(GreenOf(color)) + "," +
           std::to_string(BlueOf(color));
}

TColor TTolmFlow_Node::SetAnsiStringTocolor(const std::string& text) {
    int parts[3];
    for (int i = 0; i < 3; ++i) {
        parts[i] = StrToInt(FieldOf(text, ',', i + 1));
        if (parts[i] < 0 || parts[i] > 255)
            throw EConvertError("Colour \"" + text + "\" has a part outside 0-255");
    }
    return RgbColor(parts[0], parts[1], parts[2]);
}

std::string TTolmFlow_Node::GetFontToAnsiString(const TFlowFont& font) {
    std::string style;
    if (font.Style.Bold) style += "B";
    if (font.Style.Italic) style += "I";
    if (font.Style.Underline) style += "U";
    if (font.Style.StrikeOut) style += "S";
    // The name is escaped so that a comma in it cannot split the font text;
    // names without special characters are written as they are.
    return "[Font: charset=" + std::to_string(font.Charset) + ", name=" + EscapeText(font.Name) +
           ", size=" + std::to_string(font.Size) + ",style=" + style +
           ", color=" + EscapeText(GetColorToAnsiString(font.Color)) + ", ]";
}

void TTolmFlow_Node::SetAnsiStringToFont(const std::string& text) {
    const size_t open = text.find('[');
    const size_t close = text.rfind(']');
    if (open == std::string::npos || close == std::string::npos || close < open) return;
    const std::string inner = text.substr(open + 1, close - open - 1);
    const size_t colon = inner.find(':');
    if (inner.substr(0, colon) != "Font") return;
    const std::string body = colon == std::string::npos ? std::string() : inner.substr(colon + 1);

    TFlowFont font = font_;  // applied only when every field converts
    for (const std::string& field : flowtext::SplitAll(body, ',')) {
        flowtext::TField f = flowtext::SplitField(field);
        if (f.Key == "charset") {
            font.Charset = StrToInt(UnescapeText(f.Value));
        } else if (f.Key == "name") {
            font.Name = UnescapeText(f.Value);
        } else if (f.Key == "size") {
            font.Size = StrToInt(f.Value);
        } else if (f.Key == "style") {
            font.Style.Bold = f.Value.find('B') != std::string::npos;
            font.Style.Italic = f.Value.find('I') != std::string::npos;
            font.Style.Underline = f.Value.find('U') != std::string::npos;
            font.Style.StrikeOut = f.Value.find('S') != std::string::npos;
        } else if (f.Key == "color") {
            font.Color = SetAnsiStringTocolor(UnescapeText(f.Value));
        }
    }
    font_ = std::move(font);
}

std::string TTolmFlow_Node::GetBitmapToAnsiString(const TFlowPicture& picture) {
    std::string s;
    s.reserve(9 + static_cast<size_t>(picture.Width()) * picture.Height() * 6);
    AppendHex(s, static_cast<uint32_t>(picture.PixelFormat()), 1);
    AppendHex(s, static_cast<uint32_t>(picture.Width()), 4);
    AppendHex(s, static_cast<uint32_t>(picture.Height()), 4);
    for (int x = 0; x < picture.Width(); ++x)
        for (int y = 0; y < picture.Height(); ++y) AppendHex(s, picture.Pixel(x, y), 6);
    return s;
}

void TTolmFlow_Node::SetAnsiStringToBitmap(const std::string& text) {
    auto part = [&text](size_t pos, size_t count) { return pos < text.size() ? text.substr(pos, count) : ""; };
    TFlowPicture picture = image_;
    picture.SetPixelFormat(HexToInt(part(0, 1)));
    const int width = HexToInt(part(1, 4));
    const int height = HexToInt(part(5, 4));
    picture.SetSize(0, 0);  // a fresh white picture, not the old pixels
    picture.SetSize(width, height);
    if (height > 0) {
        // The k-th group of six goes to column k div height, row k mod height.
        int64_t k = 0;
        for (size_t pos = 9; pos + 6 <= text.size(); pos += 6, ++k) {
            const int64_t x = k / height;
            if (x >= width) break;
            picture.SetPixel(static_cast<int>(x), static_cast<int>(k % height),
                             static_cast<TColor>(HexToInt(text.substr(pos, 6))));
        }
    }
    image_ = std::move(picture);
}

std::string TTolmFlow_Node::GetTStringToAnsiString(const std::vector<std::string>& lines) {
    std::string joined;
    for (size_t i = 0; i < lines.size(); ++i) {
        if (i > 0) joined += kLineBreak;
        joined += lines[i];
    }
    return joined;
}

void TTolmFlow_Node::SetAnsiStringToTString(const std::string& text) {
    lines_ = flowtext::SplitAll(text, kLineBreak);
}

int32_t TTolmFlow_Node::HexToInt(const std::string& text) {
    std::string digits = text.compare(0, 2, "0x") == 0 ? text.substr(2) : text;
    if (digits.size() < 6) digits.insert(0, 6 - digits.size(), '0');
    int32_t value = 0;
    for (size_t i = 0; i < 6; ++i) {
        const char c = digits[i];
        int d;
        if (c >= '0' && c <= '9')
            d = c - '0';
        else if (c >= 'A' && c <= 'F')
            d = c - 'A' + 10;
        else if (c >= 'a' && c <= 'f')
            d = c - 'a' + 10;
        else
            throw EConvertError("\"" + text + "\" is not a hexadecimal number");
        value = value * 16 + d;
    }
    return value;
}

}  // namespace tolm
