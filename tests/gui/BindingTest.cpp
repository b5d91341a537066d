// Widgets follow their models (and the port list's model follows the
// operator); repaint requests paint at once; every picture is there.
#include <QComboBox>
#include <QEvent>
#include <QImage>
#include <QLabel>
#include <QLineEdit>
#include <QProgressBar>
#include <QToolButton>
#include <QtTest/QTest>

#include "GuiFixture.h"
#include "gui/Qtpanelwidget.h"
#include "gui/Qtpictures.h"

namespace tolm::test {
namespace {

using BindingTest = GuiFixture;

TEST_F(BindingTest, WidgetsFollowTheirModels) {
    form->Error.SetCaption("Upgrade PASS");
    EXPECT_EQ(Widget<QLabel>("Error")->text(), QString("Upgrade PASS"));
    form->Path.SetCaption("<b>A.BIN</b>");
    EXPECT_EQ(Widget<QLabel>("Path")->textFormat(), Qt::PlainText);
    EXPECT_EQ(Widget<QLabel>("Path")->text(), QString("<b>A.BIN</b>"));

    form->PBar.SetMax(256);
    form->PBar.SetPosition(100);
    auto* bar = Widget<QProgressBar>("PBar");
    EXPECT_EQ(bar->maximum(), 256);
    EXPECT_EQ(bar->value(), 100);
    // The counter covers the bar only while it counts.
    auto* counter = Widget<TPanelWidget>("PBar_num");
    EXPECT_FALSE(counter->autoFillBackground());
    form->PBar_num.SetCaption("100");
    EXPECT_EQ(counter->Caption(), QString("100"));
    EXPECT_TRUE(counter->autoFillBackground());
    form->PBar_num.SetCaption("");
    EXPECT_FALSE(counter->autoFillBackground());

    form->Label1.SetCaption("Fimrware種類 [2]");
    EXPECT_EQ(Widget<QLabel>("Label1")->text(), QString::fromUtf8("Fimrware種類 [2]"));
    EXPECT_TRUE(Widget("Label1")->isHidden());

    form->Upgrade.SetEnabled(false);
    EXPECT_FALSE(Widget("Upgrade")->isEnabled());
    form->Button1.SetVisible(false);
    EXPECT_TRUE(Widget("Button1")->isHidden());
}

TEST_F(BindingTest, PicturePanelCoversTheButtonWhileShown) {
    ShowWindow();
    auto* kind = Widget<QLabel>("P_ImageKind");
    form->P_ImageKind.SetPicture(form->R_1400.Picture());
    ASSERT_FALSE(kind->pixmap().isNull());
    EXPECT_EQ(kind->pixmap().size(), QSize(100, 100));

    form->ShowPicturePanel();
    QWidget* panel = Widget("P_Image");
    EXPECT_EQ(panel->pos(), QPoint(301, 6));
    for (QPoint p : {QPoint(354, 40), QPoint(354, 96)}) {  // the button, the port list
        QWidget* hit = window->childAt(p);
        ASSERT_NE(hit, nullptr);
        EXPECT_TRUE(hit == panel || panel->isAncestorOf(hit)) << p.x() << "," << p.y();
    }

    form->HidePicturePanel();
    EXPECT_EQ(panel->pos(), QPoint(421, 6));
    QWidget* hit = window->childAt(354, 40);
    EXPECT_TRUE(hit == Widget("Upgrade") || Widget("Upgrade")->isAncestorOf(hit));

    // No picture: the panel is empty.
    form->P_ImageKind.SetPicture("");
    EXPECT_TRUE(kind->pixmap().isNull());
}

TEST_F(BindingTest, EveryPictureIsDrawnAndDistinct) {
    std::vector<QImage> images;
    for (const QString& name : ProductPictureNames()) {
        const QPixmap picture = Picture(name.toStdString());
        ASSERT_FALSE(picture.isNull()) << name.toStdString();
        EXPECT_EQ(picture.size(), QSize(100, 100)) << name.toStdString();
        const QImage image = picture.toImage();
        for (const QImage& other : images) EXPECT_NE(image, other) << name.toStdString();
        images.push_back(image);
    }
    EXPECT_EQ(images.size(), 9u);
    EXPECT_FALSE(UpgradeButtonPicture().isNull());
    EXPECT_TRUE(Picture("").isNull());
    EXPECT_TRUE(Picture("../R_1100").isNull());
    EXPECT_TRUE(Picture("Nothing").isNull());
}

class PaintCounter : public QObject {
public:
    int paints = 0;
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Paint) ++paints;
        return false;
    }
};

// While an exchange blocks the main thread no event runs: a repaint request,
// and the progress the logic writes, must paint without the event loop.
TEST_F(BindingTest, RepaintAndProgressPaintWithoutTheEventLoop) {
    ShowWindow();
    Pump(100);
    PaintCounter barPaints, counterPaints, windowPaints;
    Widget("PBar")->installEventFilter(&barPaints);
    Widget("PBar_num")->installEventFilter(&counterPaints);
    window->installEventFilter(&windowPaints);

    form->PBar.Repaint();
    EXPECT_EQ(barPaints.paints, 1);
    form->PBar.SetPosition(42);
    EXPECT_GE(barPaints.paints, 2);
    form->PBar_num.SetCaption("42");
    EXPECT_GE(counterPaints.paints, 1);
    form->Error.SetCaption("Upgrade Error");
    form->Repaint();
    EXPECT_GE(windowPaints.paints, 1);
}

TEST_F(BindingTest, PortListFollowsTheOperatorAndTheModel) {
    auto* box = Widget<QComboBox>("ComList");
    box->setCurrentIndex(9);  // as a choice from the list does
    EXPECT_EQ(form->ComList.ItemIndex(), 9);
    EXPECT_EQ(form->SelectedPortNumber(), 10);

    form->ComList.SetItemIndex(2);
    EXPECT_EQ(box->currentText(), QString("Com3"));

    // Typed text is the operator's own: no item is selected any more.
    box->lineEdit()->clear();
    QTest::keyClicks(box->lineEdit(), "Com7");
    EXPECT_EQ(form->ComList.ItemIndex(), -1);
    EXPECT_EQ(form->ComList.Text(), "Com7");
    EXPECT_EQ(box->currentText(), QString("Com7"));

    // Picking the item that was current before typing selects it again.
    emit box->activated(2);
    EXPECT_EQ(form->ComList.ItemIndex(), 2);

    form->ComList.SetItemIndex(-1);
    form->ComList.SetItemIndex(0);
    EXPECT_EQ(box->currentText(), QString("Com1"));
}

}  // namespace
}  // namespace tolm::test
