// The window as the operator meets it: caption, size, the place of every
// control, tab order, fonts, and the events that reach the form.
#include <QAbstractButton>
#include <QComboBox>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QTextLayout>
#include <QToolButton>

#include <vector>

#include "GuiFixture.h"
#include "gui/Qtappearance.h"
#include "gui/Qtpanelwidget.h"

namespace tolm::test {
namespace {

using WindowTest = GuiFixture;

const QRect kClientArea(0, 0, 413, 116);

TEST_F(WindowTest, IsAFixedDialogWithTheFormCaption) {
    EXPECT_EQ(window->windowTitle(), QString("Tolm Upgrade Tools...[3.4.8]"));
    EXPECT_EQ(window->size(), QSize(413, 116));
    EXPECT_EQ(window->minimumSize(), QSize(413, 116));
    EXPECT_EQ(window->maximumSize(), QSize(413, 116));
    const Qt::WindowFlags flags = window->windowFlags();
    EXPECT_TRUE(flags & Qt::MSWindowsFixedSizeDialogHint);
    EXPECT_FALSE(flags & Qt::WindowMaximizeButtonHint);
    EXPECT_TRUE(flags & Qt::WindowCloseButtonHint);

    form->Form.SetCaption("Other");
    EXPECT_EQ(window->windowTitle(), QString("Other"));
}

TEST_F(WindowTest, PlacesEveryControlAsLaidOut) {
    struct Place {
        const char* name;
        const char* parent;
        QRect bounds;
    };
    const std::vector<Place> places = {
        {"Panel1", "Form1", {1, 2, 409, 113}},     {"Path", "Panel1", {8, 8, 297, 41}},
        {"Label1", "Panel1", {8, 56, 289, 13}},    {"Error", "Panel1", {8, 72, 289, 13}},
        {"PBar", "Panel1", {6, 88, 291, 17}},      {"PBar_num", "Panel1", {151, 92, 19, 9}},
        {"Upgrade", "Panel1", {314, 6, 81, 73}},   {"P_Image", "Form1", {427, 6, 105, 105}},
        {"P_ImageKind", "P_Image", {2, 2, 100, 100}},
    };
    for (const Place& place : places) {
        QWidget* widget = Widget(place.name);
        ASSERT_NE(widget, nullptr);
        EXPECT_EQ(widget->geometry(), place.bounds) << place.name;
        ASSERT_NE(widget->parentWidget(), nullptr) << place.name;
        EXPECT_EQ(widget->parentWidget()->objectName(), QString(place.parent)) << place.name;
    }
    QWidget* comList = Widget("ComList");
    EXPECT_EQ(comList->pos(), QPoint(314, 86));
    EXPECT_EQ(comList->width(), 81);

    // Service buttons and picture stores exist but lie outside the client area.
    for (const char* name : {"Button1", "Button2", "Button3", "Button4", "Button5", "Button6", "KV4100", "Quorin",
                             "R_1100", "R_1200", "R_1400", "R_1900S", "R_1900D", "R_1900", "W_500"}) {
        QWidget* widget = Widget(name);
        ASSERT_NE(widget, nullptr);
        EXPECT_EQ(widget->parentWidget(), window.get()) << name;
        EXPECT_FALSE(widget->geometry().intersects(kClientArea)) << name;
    }
    EXPECT_EQ(Widget<QAbstractButton>("Button2")->text(), QString("Open Com 1"));
    EXPECT_EQ(Widget<QAbstractButton>("Button3")->text(), QString("Close Com 1"));
}

TEST_F(WindowTest, UpgradeComesFirstInTabOrderAndHiddenButtonsStayInIt) {
    std::vector<QString> chain;
    QWidget* widget = window.get();
    do {
        widget = widget->nextInFocusChain();
        if (!widget->objectName().isEmpty() && (widget->focusPolicy() & Qt::TabFocus)) chain.push_back(widget->objectName());
    } while (widget != window.get());
    const std::vector<QString> expected = {"Upgrade", "ComList", "Button2", "Button3",
                                           "Button1", "Button4", "Button5", "Button6"};
    EXPECT_EQ(chain, expected);
    EXPECT_EQ(window->focusWidget(), Widget("Upgrade"));
}

TEST_F(WindowTest, ControlsLookAsDesigned) {
    EXPECT_EQ(window->font().pixelSize(), 11);

    auto* upgrade = Widget<QToolButton>("Upgrade");
    EXPECT_EQ(upgrade->text(), QString("Upgrade"));
    EXPECT_TRUE(upgrade->font().bold());
    EXPECT_EQ(upgrade->font().pixelSize(), 16);
    EXPECT_EQ(upgrade->toolButtonStyle(), Qt::ToolButtonTextUnderIcon);
    EXPECT_FALSE(upgrade->icon().isNull());

    auto* comList = Widget<QComboBox>("ComList");
    EXPECT_TRUE(comList->isEditable());
    ASSERT_EQ(comList->count(), 10);
    EXPECT_EQ(comList->itemText(0), QString("Com1"));
    EXPECT_EQ(comList->itemText(9), QString("Com10"));
    EXPECT_EQ(comList->currentText(), QString("ComList"));

    EXPECT_TRUE(Widget("Label1")->isHidden());
    EXPECT_EQ(Widget<QProgressBar>("PBar")->maximum(), 100);

    auto* panel1 = Widget<TPanelWidget>("Panel1");
    EXPECT_EQ(panel1->OuterBevel(), TBevel::Lowered);
    EXPECT_EQ(panel1->InnerBevel(), TBevel::Raised);
    auto* counter = Widget<TPanelWidget>("PBar_num");
    EXPECT_EQ(counter->OuterBevel(), TBevel::None);
    EXPECT_EQ(counter->InnerBevel(), TBevel::None);
    // The counter lies on top of the progress bar.
    EXPECT_EQ(panel1->childAt(counter->geometry().center()), counter);

    EXPECT_TRUE(Widget<QLabel>("P_ImageKind")->hasScaledContents());
}

// The Chinese operator texts need a font that has their glyphs; the window's
// font falls back to it for what its first family lacks.
TEST_F(WindowTest, ChineseTextFindsAFont) {
    QTextLayout layout(QString::fromUtf8("警告 Firmware 和機型不合"), WindowFont());
    layout.beginLayout();
    layout.createLine();
    layout.endLayout();
    bool cjkGlyphs = false;
    for (const QGlyphRun& run : layout.glyphRuns()) {
        const QList<quint32> glyphs = run.glyphIndexes();
        for (quint32 glyph : glyphs) EXPECT_NE(glyph, 0u) << run.rawFont().familyName().toStdString();
        if (run.rawFont().familyName().contains("CJK")) cjkGlyphs = true;
    }
    EXPECT_TRUE(cjkGlyphs);
}

TEST_F(WindowTest, FirstShowOpensTheFileDialogOnceAndSelectsCom1) {
    ShowWindow();
    EXPECT_EQ(chooserCalls, 1);
    EXPECT_EQ(form->ComList.ItemIndex(), 0);
    EXPECT_EQ(Widget<QComboBox>("ComList")->currentText(), QString("Com1"));

    // Later activations (after a message box, or the window shown again) do not.
    window->hide();
    window->show();
    window->activateWindow();
    Pump(200);
    EXPECT_EQ(chooserCalls, 1);
}

TEST_F(WindowTest, UpgradeClickReachesTheForm) {
    form->ShowPicturePanel();
    form->Error.SetCaption("old result");
    // No file is chosen: the press asks for one; the chooser cancels.
    Widget<QAbstractButton>("Upgrade")->click();
    EXPECT_EQ(chooserCalls, 1);
    EXPECT_EQ(Widget<QLabel>("Error")->text(), QString());
    EXPECT_EQ(Widget("P_Image")->pos(), QPoint(421, 6));
    EXPECT_TRUE(messages->Entries().empty());
}

TEST_F(WindowTest, AClickDuringARunningHandlerIsDropped) {
    auto* upgrade = Widget<QAbstractButton>("Upgrade");
    int nested = 0;
    form->OpenDialog1.SetChooser([&](const TOpenDialog&, std::string&) {
        ++chooserCalls;
        // Pending events run while the press is handled; another press comes.
        if (nested++ == 0) upgrade->click();
        return false;
    });
    upgrade->click();
    EXPECT_EQ(chooserCalls, 1);
    // Once the first press is over, the button works again.
    upgrade->click();
    EXPECT_EQ(chooserCalls, 2);
}

TEST_F(WindowTest, AnExceptionEscapingAHandlerIsShownAndTheWindowGoesOn) {
    TempDir dir;
    dir.Write("unknown.bin", std::string(2048, 'x'));
    ScriptedFile = dir.File("unknown.bin");
    // A file of no known family is kept; with no port selected the press ends
    // with the list-index error, shown to the operator.
    Widget<QAbstractButton>("Upgrade")->click();
    EXPECT_EQ(Widget<QLabel>("Path")->text(), QString("unknown.bin"));
    ASSERT_EQ(messages->Texts().size(), 1u);
    EXPECT_NE(messages->Texts()[0].find("List index out of bounds"), std::string::npos);
    EXPECT_EQ(messages->Entries()[0].caption, "Tolm Upgrade");

    // The next press runs again.
    Widget<QAbstractButton>("Upgrade")->click();
    EXPECT_EQ(messages->Texts().size(), 2u);
}

}  // namespace
}  // namespace tolm::test
