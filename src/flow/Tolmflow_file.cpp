// The diagram's text file: writing it, and reading it line by line or
// character by character (TTolmFlow's file operations).
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "base/Strfunc.h"
#include "flow/Flowtext.h"
#include "flow/Tolmflow.h"
#include "toolkit/Exception.h"
#include "toolkit/Files.h"

namespace tolm {

namespace {

// Repaints the diagram when a reading ends, also when it ends in an error.
class RepaintOnExit {
public:
    explicit RepaintOnExit(TTolmFlow& flow) : flow_(flow) {}
    ~RepaintOnExit() { flow_.Repaint(); }

private:
    TTolmFlow& flow_;
};

std::ifstream OpenForReading(const std::string& path) {
    std::error_code ec;
    const std::filesystem::path file = FilePath(path);
    if (std::filesystem::is_directory(file, ec)) throw EFOpenError("Cannot open file \"" + path + "\": is a folder");
    // A FIFO or device would block the reader, or never end.
    if (std::filesystem::exists(file, ec) && !std::filesystem::is_regular_file(file, ec))
        throw EFOpenError("Cannot open file \"" + path + "\": not a regular file");
    std::ifstream in(file, std::ios::binary);
    if (!in) throw EFOpenError("Cannot open file \"" + path + "\": " + std::strerror(errno));
    return in;
}

// A picture text may declare a size far beyond the pixels it spells out (the
// rest is white), so a line of twenty bytes can ask for 64 MB. One read may
// hold one picture of the largest size plus as many pixels as its file could
// spell out, six characters each: every saved diagram fits, and a small
// corrupt file cannot exhaust memory with many such pictures.
class TPictureBudget {
public:
    explicit TPictureBudget(const std::string& path) : limit_(TFlowPicture::MaxPixels) {
        std::error_code ec;
        const auto size = std::filesystem::file_size(FilePath(path), ec);
        if (!ec) limit_ += static_cast<int64_t>(size / 6);
    }
    // Counts the node's picture; throws once the read goes over its budget.
    void Take(const TTolmFlow_Node& node, const std::string& path) {
        used_ += static_cast<int64_t>(node.Image().Width()) * node.Image().Height();
        if (used_ > limit_)
            throw EConvertError("The pictures of \"" + path + "\" declare more pixels than the file holds");
    }

private:
    int64_t limit_;
    int64_t used_ = 0;
};

}  // namespace

void TTolmFlow::SaveToFile(const std::string& path) const {
    std::string text;
    for (const auto& node : nodes_) text += node->GetNodeStructure() + "\r\n";
    for (const auto& u : unions_) text += u->GetUnionStructure() + "\r\n";
    switch (WriteWholeFile(path, text)) {
        case TWholeFileWrite::Written: return;
        case TWholeFileWrite::CannotCreate:
            throw EFOpenError("Cannot create file \"" + path + "\": " + std::strerror(errno));
        case TWholeFileWrite::CannotWrite:
            throw Exception("Cannot write file \"" + path + "\": " + std::strerror(errno));
    }
}

void TTolmFlow::OpenToFile(const std::string& path) {
    std::ifstream in = OpenForReading(path);
    RepaintOnExit repaint(*this);
    TPictureBudget pictures(path);
    std::string line;
    while (std::getline(in, line)) {
        // CR LF and LF end a line; the last line may have no line end.
        if (!line.empty() && line.back() == '\r') line.pop_back();
        const std::string firstWord = line.substr(0, line.find(' '));
        const std::string rest = line.size() > 5 ? line.substr(5) : std::string();
        if (firstWord == "Node") {
            TTolmFlow_Node* node = AddNode("", 100, 100, 100, 100);
            try {
                node->SetNodeStructure(rest);
                pictures.Take(*node, path);
            } catch (...) {
                RemoveNewNode(node);  // a line that fails leaves nothing of itself
                throw;
            }
        } else if (firstWord == "Union") {
            TTolmFlow_Union* u = AddUnion("");
            try {
                SetUnionStructure(rest, u);
            } catch (...) {
                RemoveNewUnion(u);
                throw;
            }
        }
    }
}

void TTolmFlow::OPenToFile_v(const std::string& path) {
    std::ifstream in = OpenForReading(path);
    RepaintOnExit repaint(*this);
    TPictureBudget pictures(path);
    static const std::string kNodeStart = "Node ";
    std::string collected;
    for (int c = in.get(); c != std::char_traits<char>::eof(); c = in.get()) {
        if (c == '\r' || c == '\n') continue;
        collected += static_cast<char>(c);
        if (collected == kNodeStart) {
            collected.clear();
            TTolmFlow_Node* node = AddNode("", 100, 100, 100, 100);
            try {
                node->SetNodeStructure_FilePoint(in);
                pictures.Take(*node, path);
            } catch (...) {
                RemoveNewNode(node);
                throw;
            }
        } else if (kNodeStart.compare(0, collected.size(), collected) != 0) {
            // The collected text only grows, so no node can be recognised any
            // more (this is where the union lines begin).
            return;
        }
    }
}

void TTolmFlow::SetUnionStructure(const std::string& text, TTolmFlow_Union* u) {
    for (const std::string& field : flowtext::SplitAll(text, ',')) {
        const flowtext::TField f = flowtext::SplitField(field);
        if (f.Key == "Name") {
            u->SetName(UnescapeText(f.Value));
        } else if (f.Key == "Node") {
            for (const std::string& name : flowtext::SplitAll(UnescapeText(f.Value), ',')) {
                const std::string trimmed = flowtext::Trim(name);
                if (trimmed.empty()) continue;
                if (TTolmFlow_Node* node = GetNodeAtName(trimmed)) u->Add_AtNodeObjects(node);
            }
        } else if (f.Key == "Link") {
            for (const std::string& name : flowtext::SplitAll(UnescapeText(f.Value), ',')) {
                const std::string trimmed = flowtext::Trim(name);
                if (trimmed.empty()) continue;
                if (TTolmFlow_Link* link = GetLinkAtName(trimmed)) u->Add_AtLinkObjects(link);
            }
        } else if (f.Key == "Tag") {
            u->SetTag(flowtext::StrToInt(f.Value));
        }
    }
}

}  // namespace tolm
