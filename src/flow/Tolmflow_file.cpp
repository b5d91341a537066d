// The diagram's text file: writing it, and reading it line by line or
// character by character (TTolmFlow's file operations).
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "app/Strfunc.h"
#include "flow/Flowtext.h"
#include "flow/Tolmflow.h"
#include "toolkit/Exception.h"

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
    if (std::filesystem::is_directory(path, ec)) throw EFOpenError("Cannot open file \"" + path + "\": is a folder");
    // A FIFO or device would block the reader, or never end.
    if (std::filesystem::exists(path, ec) && !std::filesystem::is_regular_file(path, ec))
        throw EFOpenError("Cannot open file \"" + path + "\": not a regular file");
    std::ifstream in(path, std::ios::binary);
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
        const auto size = std::filesystem::file_size(path, ec);
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

bool WriteAll(int fd, const std::string& bytes) {
    size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

// Writes bytes to path so that the file is either the old one or the whole
// new one: the text goes to a fresh file beside it, which then replaces it.
// Where no file can be made beside it (a folder without write permission),
// the file itself is rewritten.
void WriteWholeFile(const std::string& path, const std::string& bytes) {
    namespace fs = std::filesystem;
    std::error_code ec;
    std::string target = path;
    if (fs::is_symlink(path, ec)) {  // replace what the link points at, not the link
        fs::path resolved = fs::canonical(path, ec);
        if (!ec) target = resolved.string();
    }

    static std::atomic<unsigned> counter{0};
    const std::string temp = target + ".~" + std::to_string(::getpid()) + "." + std::to_string(counter++);
    int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) {
        fd = ::open(target.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
        if (fd < 0) throw EFOpenError("Cannot create file \"" + path + "\": " + std::strerror(errno));
        const bool ok = WriteAll(fd, bytes);
        const int err = errno;
        if (::close(fd) != 0 || !ok)
            throw Exception("Cannot write file \"" + path + "\": " + std::strerror(ok ? errno : err));
        return;
    }
    struct stat old {};
    if (::stat(target.c_str(), &old) == 0) ::fchmod(fd, old.st_mode & 07777);
    const bool ok = WriteAll(fd, bytes);
    const int err = errno;
    const bool closed = ::close(fd) == 0;
    if (!ok || !closed || ::rename(temp.c_str(), target.c_str()) != 0) {
        const int reason = !ok ? err : errno;
        ::unlink(temp.c_str());
        throw Exception("Cannot write file \"" + path + "\": " + std::strerror(reason));
    }
}

}  // namespace

void TTolmFlow::SaveToFile(const std::string& path) const {
    std::string text;
    for (const auto& node : nodes_) text += node->GetNodeStructure() + "\r\n";
    for (const auto& u : unions_) text += u->GetUnionStructure() + "\r\n";
    WriteWholeFile(path, text);
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
