// Painting a diagram onto an image: fills and gradients, grid styles, links
// and the extent. Text needs a GUI application and is covered by the
// tolm-flowview test.
#include <gtest/gtest.h>

#include <QImage>

#include "flow/Tolmflowpainter.h"

namespace tolm {
namespace {

QRgb At(const QImage& image, int x, int y) { return image.pixel(x, y) & 0xFFFFFF; }

TEST(FlowPainter, FillsGradientsAndTransparentNodes) {
    TTolmFlow flow;
    TTolmFlow_Node* solid = flow.AddNode("", 10, 10, 40, 40);
    solid->SetTransparent(false);
    solid->SetBackColor(RgbColor(10, 200, 30));
    TTolmFlow_Node* vertical = flow.AddNode("", 60, 10, 40, 100);
    vertical->SetTransparent(false);
    vertical->SetBeginColor(RgbColor(255, 0, 0));
    vertical->SetEndColor(RgbColor(0, 0, 255));
    TTolmFlow_Node* clear = flow.AddNode("", 110, 10, 40, 40);  // transparent by default
    clear->SetBackColor(RgbColor(0, 0, 0));
    TTolmFlow_Node* hidden = flow.AddNode("", 160, 10, 40, 40);
    hidden->SetTransparent(false);
    hidden->SetBackColor(RgbColor(0, 0, 0));
    hidden->SetVisible(false);

    const QImage image = RenderTolmFlow(flow);
    EXPECT_EQ(image.size(), QSize(160, 120));  // the hidden node does not count
    EXPECT_EQ(At(image, 30, 30), qRgb(10, 200, 30) & 0xFFFFFF);
    const QColor top = image.pixelColor(80, 13), bottom = image.pixelColor(80, 106);
    EXPECT_GT(top.red(), 200);
    EXPECT_LT(top.blue(), 50);
    EXPECT_GT(bottom.blue(), 200);
    EXPECT_LT(bottom.red(), 50);
    EXPECT_EQ(At(image, 130, 30), 0xFFFFFFu);  // nothing filled behind a transparent node
    EXPECT_EQ(At(image, 110, 30), 0u);         // its sharp black border
    EXPECT_EQ(At(image, 149, 30), 0u);
}

TEST(FlowPainter, GridStylesAndLinks) {
    TTolmFlow flow;
    flow.AddNode("", 0, 0, 60, 60)->SetLineWidth(0);
    flow.SetGridColor(RgbColor(255, 0, 0));
    flow.SetShowGrid(true);

    QImage image = RenderTolmFlow(flow);
    EXPECT_EQ(At(image, 20, 20), 0xFF0000u);  // gsPixels: a dot at every crossing
    EXPECT_EQ(At(image, 25, 20), 0xFFFFFFu);
    flow.SetGridStyle(TGridStyle::gsLines);
    image = RenderTolmFlow(flow);
    EXPECT_EQ(At(image, 25, 20), 0xFF0000u);
    flow.SetGridStyle(TGridStyle::gsNull);
    image = RenderTolmFlow(flow);
    EXPECT_EQ(At(image, 20, 20), 0xFFFFFFu);

    auto link = std::make_unique<TTolmFlow_Link>(&flow);
    link->SetPoints({{5, 35}, {50, 35}, {50, 90}});
    flow.ObjectAddLink(std::move(link));
    image = RenderTolmFlow(flow);
    EXPECT_EQ(image.size(), QSize(70, 100));
    EXPECT_LT(qGray(image.pixel(30, 35)), 128);  // along the first segment
    EXPECT_LT(qGray(image.pixel(50, 70)), 128);  // along the second
}

}  // namespace
}  // namespace tolm
