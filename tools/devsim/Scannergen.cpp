// Scanner firmware files: one image (262144 bytes and a 1024-byte trailer
// block, 263168 bytes) or two (scanner image, then docking-station image,
// 526336 bytes), every byte stored plus 10.
#include <cstdio>
#include <string>
#include <vector>

#include "Device.h"
#include "Firmwarefile.h"

namespace tolm::devsim {

namespace {
constexpr int kBlocks = 256;

struct ImageLayout {
    firmware::Trailer trailer;
    std::vector<bool> blank;  // per block
    uint32_t seed = 1;
};

char DigitOption(const Options& o, const std::string& key, char fallback) {
    return static_cast<char>('0' + o.GetInt(key, fallback - '0'));
}

// Reads the keys of one image (prefix "" or "dock-"); missing keys of the
// second image take the first image's values.
bool ReadLayout(const Options& o, const std::string& prefix, const ImageLayout& defaults, ImageLayout& layout,
              std::string& error) {
    layout = defaults;
    firmware::Trailer& t = layout.trailer;
    t.modelCode = o.Get(prefix + "model", defaults.trailer.modelCode);
    if (t.modelCode.size() != 4) {
        error = prefix + "model must have 4 characters";
        return false;
    }
    t.familyCode = o.Get(prefix + "family", prefix.empty() ? "2" + t.modelCode.substr(0, 2) : defaults.trailer.familyCode);
    if (t.familyCode.size() != 3) {
        error = prefix + "family must have 3 characters";
        return false;
    }
    t.digit6 = DigitOption(o, prefix + "digit6", defaults.trailer.digit6);
    t.digit10 = DigitOption(o, prefix + "kernel", defaults.trailer.digit10);
    t.digit14 = DigitOption(o, prefix + "digit14", defaults.trailer.digit14);
    t.version = o.Get(prefix + "version", defaults.trailer.version);
    const std::string fill = o.Get(prefix + "fill", "pattern");
    if (fill == "blank") {
        layout.blank.assign(kBlocks, true);
    } else if (fill == "pattern") {
        if (!firmware::ParseRanges(o.Get(prefix + "blank", ""), kBlocks, layout.blank)) {
            error = prefix + "blank must be block numbers or ranges 0-255, such as 1-3,200";
            return false;
        }
    } else {
        error = prefix + "fill must be pattern or blank";
        return false;
    }
    layout.seed = static_cast<uint32_t>(o.GetInt(prefix + "seed", defaults.seed));
    return true;
}

// One image as the device's flash holds it, then its trailer block.
TByteBuffer PlainImage(const ImageLayout& layout) {
    TByteBuffer image(kBlocks * firmware::kBlockSize, 0xFF);
    for (int b = 0; b < kBlocks; ++b)
        if (!layout.blank[static_cast<size_t>(b)])
            firmware::FillBlock(image.data() + b * firmware::kBlockSize, firmware::kBlockSize,
                                layout.seed * 1000u + static_cast<uint32_t>(b));
    image.Append(firmware::TrailerBlock(layout.trailer));
    return image;
}

int Generate(const Options& o, const std::string& defaultModel, int defaultImages) {
    const long images = o.GetInt("images", defaultImages);
    if (images != 1 && images != 2) {
        std::fprintf(stderr, "tolm-devsim: images must be 1 or 2\n");
        return 2;
    }
    ImageLayout base;
    base.trailer.modelCode = defaultModel;
    base.trailer.digit6 = '7';
    base.trailer.digit10 = '1';
    base.trailer.digit14 = '0';
    ImageLayout first, second;
    std::string error;
    bool ok = ReadLayout(o, "", base, first, error);
    if (ok && images == 2) {
        ImageLayout dockDefaults = first;
        dockDefaults.seed = first.seed + 1;  // the two images differ
        dockDefaults.blank.assign(kBlocks, false);
        ok = ReadLayout(o, "dock-", dockDefaults, second, error);
    }
    if (!ok) {
        std::fprintf(stderr, "tolm-devsim: %s\n", error.c_str());
        return 2;
    }
    TByteBuffer plain = PlainImage(first);
    if (images == 2) plain.Append(PlainImage(second));
    TByteBuffer stored = firmware::Store(plain);
    // A shortened file, for trying the host on incomplete files.
    const long truncate = o.GetInt("truncate", -1);
    if (truncate >= 0 && truncate < stored.Length()) stored.SetLength(static_cast<int>(truncate));
    if (!firmware::WriteFileAtomically(o.Get("out"), stored)) {
        std::fprintf(stderr, "tolm-devsim: cannot write %s\n", o.Get("out").c_str());
        return 1;
    }
    return 0;
}

const char* const kGenOptions =
    "--set images=1|2 model=XXXX family=2XX digit6=7 kernel=1 digit14=0 version=100 fill=pattern|blank "
    "blank=1-3,200 seed=1 truncate=BYTES; the second image takes the same keys with a dock- prefix";

Registration scannerFwReg("scanner-fw", std::string("first-generation scanner firmware (model LB1Y); ") + kGenOptions,
                          [](const Options& o) { return Generate(o, "LB1Y", 1); });
Registration tidFwReg("tid-fw", std::string("scanner TID firmware (model TW2Y, two images); ") + kGenOptions,
                      [](const Options& o) { return Generate(o, "TW2Y", 2); });
}  // namespace

}  // namespace tolm::devsim
