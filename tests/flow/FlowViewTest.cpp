// tolm-flowview renders a diagram file to a PNG without a display.
#include <gtest/gtest.h>

#include <QImage>

#include <cstdlib>
#include <filesystem>

#include "TestSupport.h"
#include "flow/Tolmflow.h"

namespace tolm {
namespace {

TEST(FlowView, RendersADiagramFileToAPngOfItsExtent) {
    test::TempDir dir;
    TTolmFlow flow;
    TTolmFlow_Node* box = flow.AddNode("Box", 20, 20, 160, 90);
    box->SetTransparent(false);
    box->SetBeginColor(RgbColor(255, 255, 255));
    box->SetEndColor(RgbColor(40, 90, 200));
    box->SetLineWidth(2);
    box->Lines() = {"Upgrade, step 1", "<check> & \"go\""};
    box->Font().Size = 12;
    box->Font().Color = RgbColor(200, 0, 0);
    box->Font().Style = {true, false, true, false};
    box->SetText_Layout(TLayout::Left_Justify_Top);
    TTolmFlow_Node* pic = flow.AddNode("Pic", 230, 40, 90, 80);
    pic->SetShape(3);
    pic->SetTransparent(false);
    pic->SetBackColor(RgbColor(250, 230, 120));
    pic->Image().SetSize(40, 30);
    for (int x = 0; x < 40; ++x)
        for (int y = 0; y < 30; ++y) pic->Image().SetPixel(x, y, (x / 10 + y / 10) % 2 ? RgbColor(0, 128, 0) : clWhite);
    TTolmFlow_Node* end = flow.AddNode("End", 120, 170, 140, 60);
    end->SetShape(4);
    end->Lines() = {"Done"};
    TTolmFlow_Union* u = flow.AddUnion("");
    u->Add_AtNodeObjects(box);
    u->Add_AtNodeObjects(end);
    flow.SaveToFile(dir.File("d.flow"));

    const std::string png = dir.File("d.png");
    const std::string command = "QT_QPA_PLATFORM=offscreen '" TOLM_FLOWVIEW "' '" + dir.File("d.flow") + "' '" + png +
                                "' > '" + dir.File("out.txt") + "' 2>&1";
    ASSERT_EQ(std::system(command.c_str()), 0) << dir.Read("out.txt");
    ASSERT_TRUE(std::filesystem::exists(png));
    if (const char* keep = std::getenv("TOLM_KEEP_FLOWVIEW_PNG")) std::filesystem::copy_file(png, keep,
        std::filesystem::copy_options::overwrite_existing);

    QImage image(QString::fromStdString(png));
    ASSERT_FALSE(image.isNull());
    // Furthest edges: the picture node's right (320) and the union frame 4
    // pixels below the end node's bottom (230), plus the 10-pixel margin.
    EXPECT_EQ(image.width(), 330);
    EXPECT_EQ(image.height(), 244);
    int reddish = 0, dark = 0;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QColor c = image.pixelColor(x, y);
            if (c.red() > 150 && c.green() < 80 && c.blue() < 80) ++reddish;
            if (c.red() < 60 && c.green() < 60 && c.blue() < 60) ++dark;
        }
    }
    EXPECT_GT(reddish, 100) << "the red text of the box";
    EXPECT_GT(dark, 500) << "borders and links";
    EXPECT_EQ(image.pixel(2, 2), qRgb(255, 255, 255));  // the surface
    // The picture sits in the middle of its node (255, 65): a green square
    // and a transparent (white) one.
    EXPECT_EQ(image.pixel(255 + 15, 65 + 5), qRgb(0, 128, 0));
    EXPECT_EQ(image.pixel(255 + 5, 65 + 5), qRgb(255, 255, 255));
}

TEST(FlowView, ChineseTextIsPaintedFromTheDiagramsCodePage) {
    test::TempDir dir;
    // The same diagram with its text as Big5 bytes and as UTF-8 bytes.
    auto write = [&](const std::string& name, const std::string& text) {
        TTolmFlow flow;
        TTolmFlow_Node* box = flow.AddNode("Box", 10, 10, 200, 80);
        box->Lines() = {text};
        box->Font().Size = 20;
        flow.SaveToFile(dir.File(name));
    };
    write("big5.flow", "\xA4\xA4\xA4\xE5\xB4\xFA\xB8\xD5");
    write("utf8.flow", "中文測試");
    auto render = [&](const std::string& args, const std::string& png) {
        const std::string command = "QT_QPA_PLATFORM=offscreen '" TOLM_FLOWVIEW "' " + args + " '" + dir.File(png) +
                                    "' > '" + dir.File("out.txt") + "' 2>&1";
        EXPECT_EQ(std::system(command.c_str()), 0) << dir.Read("out.txt");
        return QImage(QString::fromStdString(dir.File(png)));
    };
    const QImage big5 = render("'" + dir.File("big5.flow") + "'", "big5.png");
    const QImage utf8 = render("--code-page 65001 '" + dir.File("utf8.flow") + "'", "utf8.png");
    const QImage misread = render("--code-page 65001 '" + dir.File("big5.flow") + "'", "misread.png");
    ASSERT_FALSE(big5.isNull());
    EXPECT_TRUE(big5 == utf8) << "code page 950 is the default and decodes Big5";
    EXPECT_FALSE(big5 == misread) << "the same bytes read as UTF-8 paint something else";
}

TEST(FlowView, AFileThatCannotBeReadFails) {
    test::TempDir dir;
    const std::string command = "QT_QPA_PLATFORM=offscreen '" TOLM_FLOWVIEW "' '" + dir.File("missing.flow") +
                                "' '" + dir.File("x.png") + "' > /dev/null 2>&1";
    EXPECT_NE(std::system(command.c_str()), 0);
    EXPECT_FALSE(std::filesystem::exists(dir.File("x.png")));
}

}  // namespace
}  // namespace tolm
