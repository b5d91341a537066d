#include "gui/Mainwindow.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QCoreApplication>
#include <QEvent>
#include <QMessageBox>
#include <QGuiApplication>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QToolButton>

#include <utility>

#include "app/Unit1.h"
#include "gui/Appearance.h"
#include "gui/Controlbinding.h"
#include "gui/Filechooser.h"
#include "gui/Guithread.h"
#include "gui/Panelwidget.h"
#include "gui/Pictures.h"

namespace tolm {

namespace {

// A dialog-style frame: title and close button, no resizing.
constexpr Qt::WindowFlags kDialogFrame = Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                                         Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint |
                                         Qt::MSWindowsFixedSizeDialogHint;

const QColor kSkyBlue(0xa6, 0xca, 0xf0);

template <typename Widget>
Widget* Named(Widget* widget, const TControl& model) {
    widget->setObjectName(QString::fromStdString(model.Name()));
    return widget;
}

}  // namespace

TMainWindow::TMainWindow(TForm1& form, QWidget* parent) : TMainWindow(form, false, parent) {}

TMainWindow::TMainWindow(TFormThread& formThread) : TMainWindow(formThread.Form(), true, nullptr) {}

TMainWindow::TMainWindow(TForm1& form, bool acrossThreads, QWidget* parent)
    : QWidget(parent, kDialogFrame), form_(form), input_(form, acrossThreads) {
    InitGuiThread();
    ConfirmClose = [this] {
        return QMessageBox::question(this, QCoreApplication::applicationName(), TFormInput::kCloseQuestion,
                                     QMessageBox::Yes | QMessageBox::No, QMessageBox::No) == QMessageBox::Yes;
    };
    setObjectName("Form1");
    setFont(WindowFont());
    BindForm(form_.Form, this);

    BuildOperatorArea();
    BuildPicturePanel();
    BuildServiceControls();
    SetTabOrder();

    form_.OpenDialog1.SetChooser(TFileChooser(this));
    if (QWidget* first = findChild<QWidget*>("Upgrade")) first->setFocus();
    CenterOnScreen();
}

void TMainWindow::BuildOperatorArea() {
    auto* panel1 = Named(new TPanelWidget(TBevel::Lowered, TBevel::Raised, this), form_.Panel1);
    BindPanel(form_.Panel1, panel1);

    auto* path = Named(new QLabel(panel1), form_.Path);
    path->setWordWrap(true);
    path->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    BindLabel(form_.Path, path);

    auto* label1 = Named(new QLabel(panel1), form_.Label1);
    label1->setAutoFillBackground(true);
    QPalette notes = label1->palette();
    notes.setColor(QPalette::Window, kSkyBlue);
    label1->setPalette(notes);
    label1->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    BindLabel(form_.Label1, label1);

    auto* error = Named(new QLabel(panel1), form_.Error);
    error->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    BindLabel(form_.Error, error);

    auto* pbar = Named(new QProgressBar(panel1), form_.PBar);
    pbar->setTextVisible(false);
    BindProgressBar(form_.PBar, pbar);

    // Made after the bar, so it lies on top of it.
    auto* pbarNum = Named(new TPanelWidget(TBevel::None, TBevel::None, panel1), form_.PBar_num);
    pbarNum->SetClearWhenEmpty(true);
    BindPanel(form_.PBar_num, pbarNum);

    auto* upgrade = Named(new QToolButton(panel1), form_.Upgrade);
    upgrade->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    upgrade->setFont(UpgradeCaptionFont());
    const QPixmap glyph = UpgradeButtonPicture();
    upgrade->setIcon(QIcon(glyph));
    upgrade->setIconSize(glyph.size());
    upgrade->setFocusPolicy(Qt::StrongFocus);
    upgrade->setAutoRaise(false);
    BindButton(form_.Upgrade, upgrade, Forward(&TForm1::UpgradeClick));

    auto* comList = Named(new QComboBox(panel1), form_.ComList);
    BindComboBox(form_.ComList, comList, [this](std::function<void()> change) { return input_.Dispatch(change); });
}

void TMainWindow::BuildPicturePanel() {
    // Made after Panel1, so it covers the button and the port list when moved in.
    auto* pImage = Named(new TPanelWidget(TBevel::Raised, TBevel::None, this), form_.P_Image);
    BindPanel(form_.P_Image, pImage);
    auto* kind = Named(new QLabel(pImage), form_.P_ImageKind);
    BindImage(form_.P_ImageKind, kind);
}

void TMainWindow::BuildServiceControls() {
    // Outside the client area: never seen, still in the tab order.
    const std::pair<TButton*, void (TForm1::*)()> buttons[] = {
        {&form_.Button2, &TForm1::Button2Click}, {&form_.Button3, &TForm1::Button3Click},
        {&form_.Button1, &TForm1::Button1Click}, {&form_.Button4, &TForm1::Button4Click},
        {&form_.Button5, &TForm1::Button5Click}, {&form_.Button6, &TForm1::Button6Click},
    };
    for (const auto& [model, method] : buttons) {
        auto* button = Named(new QPushButton(this), *model);
        button->setAutoDefault(false);
        BindButton(*model, button, Forward(method));
    }

    // The picture stores, sources of the product picture.
    for (TImage* store : {&form_.KV4100, &form_.Quorin, &form_.R_1100, &form_.R_1200, &form_.R_1400, &form_.R_1900S,
                          &form_.R_1900D, &form_.R_1900, &form_.W_500}) {
        BindImage(*store, Named(new QLabel(this), *store));
    }
}

std::function<void()> TMainWindow::Forward(void (TForm1::*handler)()) {
    return [this, handler] {
        TForm1* form = &form_;
        input_.Dispatch([form, handler] { (form->*handler)(); });
    };
}

void TMainWindow::SetTabOrder() {
    const char* order[] = {"Upgrade", "ComList", "Button2", "Button3", "Button1", "Button4", "Button5", "Button6"};
    QWidget* previous = nullptr;
    for (const char* name : order) {
        QWidget* widget = findChild<QWidget*>(name);
        if (!widget) continue;
        if (previous) QWidget::setTabOrder(previous, widget);
        previous = widget;
    }
}

void TMainWindow::CenterOnScreen() {
    QScreen* screen = this->screen();
    if (!screen) screen = QGuiApplication::primaryScreen();
    if (!screen) return;
    const QRect free = screen->availableGeometry();
    const QSize size = frameGeometry().size();
    move(free.center() - QPoint(size.width() / 2, size.height() / 2));
}

bool TMainWindow::event(QEvent* event) {
    // The form's activation event: the first one opens the file dialog. It is
    // run after the event that announced it, so that the window is up first.
    if (event->type() == QEvent::Show || event->type() == QEvent::WindowActivate) QueueFirstActivation();
    return QWidget::event(event);
}

void TMainWindow::QueueFirstActivation() {
    if (activated_ || activationQueued_) return;
    activationQueued_ = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            activationQueued_ = false;
            TForm1* form = &form_;
            if (input_.Dispatch([form] { form->FormActivate(); })) activated_ = true;
        },
        Qt::QueuedConnection);
}

void TMainWindow::closeEvent(QCloseEvent* event) {
    if (!input_.MayClose(ConfirmClose)) {
        event->ignore();
        return;
    }
    QWidget::closeEvent(event);
}

}  // namespace tolm
