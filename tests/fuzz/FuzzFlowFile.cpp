// The diagram file readers: the line reader (OpenToFile, with the node and
// union line parsers behind it) and the character reader (OPenToFile_v).
// Input: the file.
// A file may be refused with one of the toolkit's exceptions; nothing else
// may escape. Whatever a reader left in the diagram, complete or after a
// refused line, must survive a save: the saved file reads back without error
// and saves to the same bytes, and the character reader finds the same nodes
// in it.
#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>

#include "FuzzSupport.h"
#include "flow/Tolmflow.h"
#include "toolkit/Exception.h"

namespace {

using namespace tolm;

// Pictures are saved at six characters a pixel: keep the saves small.
constexpr int64_t kMaxSavedPixels = 1 << 16;

const fuzz::TScratchFile& Scratch() {
    static fuzz::TScratchFile file("input.flow");
    return file;
}

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

int64_t SavedPixels(const TTolmFlow& flow) {
    int64_t pixels = 0;
    for (int i = 0; i < flow.ObjectNode_Count(); ++i) {
        const TFlowPicture& p = flow.GetNodeAtIndex(i)->Image();
        pixels += static_cast<int64_t>(p.Width()) * p.Height();
    }
    return pixels;
}

// The node lines of a saved file, each with its line end.
std::string NodeLines(const std::string& saved) {
    std::string nodes;
    for (size_t at = 0; at < saved.size();) {
        size_t end = saved.find("\r\n", at);
        end = end == std::string::npos ? saved.size() : end + 2;
        if (saved.compare(at, 5, "Node ") == 0) nodes += saved.substr(at, end - at);
        at = end;
    }
    return nodes;
}

// On a difference, shows where the two texts part before stopping.
void CheckSameText(const std::string& got, const std::string& want, const char* what) {
    if (got == want) return;
    size_t at = 0;
    while (at < got.size() && at < want.size() && got[at] == want[at]) ++at;
    const size_t from = at > 80 ? at - 80 : 0;
    std::fprintf(stderr, "texts part at byte %zu\n  got:  [%s]\n  want: [%s]\n", at, got.substr(from, 200).c_str(),
                 want.substr(from, 200).c_str());
    FUZZ_CHECK(false, what);
}

void CheckSaveRoundTrip(const TTolmFlow& flow) {
    if (SavedPixels(flow) > kMaxSavedPixels) return;
    const std::string first = Scratch().Dir() + "/first.flow";
    const std::string second = Scratch().Dir() + "/second.flow";
    flow.SaveToFile(first);
    const std::string saved = ReadAll(first);

    TTolmFlow again;
    try {
        again.OpenToFile(first);
    } catch (const Exception& e) {
        std::fprintf(stderr, "reading back a saved diagram: %s\n", e.what());
        FUZZ_CHECK(false, "a saved diagram does not read back");
    }
    FUZZ_CHECK(again.ObjectNode_Count() == flow.ObjectNode_Count(), "node count changed by a save");
    FUZZ_CHECK(again.ObjectUnion_Count() == flow.ObjectUnion_Count(), "union count changed by a save");
    again.SaveToFile(second);
    CheckSameText(ReadAll(second), saved, "a saved diagram read back saves differently");

    TTolmFlow nodesOnly;
    try {
        nodesOnly.OPenToFile_v(first);
    } catch (const Exception& e) {
        std::fprintf(stderr, "reading back a saved diagram by characters: %s\n", e.what());
        FUZZ_CHECK(false, "a saved diagram does not read back by characters");
    }
    FUZZ_CHECK(nodesOnly.ObjectNode_Count() == flow.ObjectNode_Count(), "character reader missed nodes");
    nodesOnly.SaveToFile(second);
    CheckSameText(ReadAll(second), NodeLines(saved), "character reader read other nodes than were saved");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Scratch().Write(data, size);
    {
        TTolmFlow flow;
        try {
            flow.OpenToFile(Scratch().Path());
        } catch (const Exception&) {
            // A refused line; what was read before it stays.
        }
        CheckSaveRoundTrip(flow);
    }
    {
        TTolmFlow flow;
        try {
            flow.OPenToFile_v(Scratch().Path());
        } catch (const Exception&) {
        }
        CheckSaveRoundTrip(flow);
    }
    return 0;
}
