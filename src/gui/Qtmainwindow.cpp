#include "gui/Qtmainwindow.h"

#include <QCloseEvent>
#include <QComboBox>
#include <QApplication>
#include <QCoreApplication>
#include <QEvent>
#include <QMessageBox>
#include <QGuiApplication>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>
#include <QScreen>
#include <QSessionManager>
#include <QSocketNotifier>
#include <QToolButton>

#include <map>
#include <stdexcept>
#include <utility>

#include "app/Unit1.h"
#include "gui/Qtappearance.h"
#include "gui/Qtcontrolbinding.h"
#include "gui/Qtfilechooser.h"
#include "gui/Formcontrols.h"
#include "gui/Guithread.h"
#include "gui/Qtpanelwidget.h"
#include "gui/Qtpictures.h"
#include "platform/Portchangewatch.h"

namespace tolm {

namespace {

// The port list: read again each time it drops down.
class TPortListBox : public QComboBox {
public:
    using QComboBox::QComboBox;
    std::function<void()> BeforePopup;

protected:
    void showPopup() override {
        if (BeforePopup) BeforePopup();
        QComboBox::showPopup();
    }
};

// A dialog-style frame: title and close button, no resizing.
constexpr Qt::WindowFlags kDialogFrame = Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                                         Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint |
                                         Qt::MSWindowsFixedSizeDialogHint;

}  // namespace

TMainWindow::~TMainWindow() = default;

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

    BuildWidgets();

    form_.OpenDialog1.SetChooser(TFileChooser(this));
    if (QWidget* first = findChild<QWidget*>("Upgrade")) first->setFocus();
    CenterOnScreen();
    WatchPorts();
}

void TMainWindow::WatchPorts() {
    portWatch_ = std::make_unique<TPortChangeWatch>();
    if (portWatch_->Fd() < 0) return;
    portNotifier_ = new QSocketNotifier(portWatch_->Fd(), QSocketNotifier::Read, this);
    connect(portNotifier_, &QSocketNotifier::activated, this, [this] {
        if (portWatch_->TakeChanges()) RefreshPorts();
    });
}

void TMainWindow::RefreshPorts() {
    // While a transfer runs the list stays as it is.
    TForm1* form = &form_;
    input_.Offer([form] { form->RefreshPortList(); });
}

void TMainWindow::AnswerSessionEnd(QSessionManager& manager) {
    if (!input_.UpgradeRunning()) return;
    // A half-written image can leave a device that no longer starts: the
    // session goes on, and so does the transfer.
    if (manager.allowsInteraction()) {
        QMessageBox::warning(this, QCoreApplication::applicationName(), TFormInput::kSessionEndRefused);
        manager.release();
    }
    manager.cancel();
}

void TMainWindow::BringToFront() {
    if (isMinimized()) showNormal();
    QWidget* front = QApplication::activeModalWidget();
    if (!front) front = this;
    front->raise();
    front->activateWindow();
}

void TMainWindow::BuildWidgets() {
    std::map<const TControl*, QWidget*> made;
    QWidget* previousStop = nullptr;
    for (const TWidgetEntry& entry : FormWidgets(form_)) {
        QWidget* parent = entry.parent ? made.at(entry.parent) : this;
        QWidget* widget = MakeWidget(entry, parent);
        widget->setObjectName(QString::fromStdString(entry.model->Name()));
        // Made after what it covers, so it lies on top already.
        if (entry.onTop) widget->raise();
        if (entry.tabStop) {
            if (previousStop) QWidget::setTabOrder(previousStop, widget);
            previousStop = widget;
        }
        made[entry.model] = widget;
    }
}

QWidget* TMainWindow::MakeWidget(const TWidgetEntry& entry, QWidget* parent) {
    switch (entry.kind) {
    case TWidgetKind::Panel: {
        auto* panel = new TPanelWidget(entry.outer, entry.inner, parent);
        if (entry.clearWhenEmpty) panel->SetClearWhenEmpty(true);
        BindPanel(ModelOf<TPanel>(entry), panel);
        return panel;
    }
    case TWidgetKind::Label: {
        auto* label = new QLabel(parent);
        label->setWordWrap(entry.wrap);
        if (entry.background) {
            label->setAutoFillBackground(true);
            QPalette palette = label->palette();
            palette.setColor(QPalette::Window, QColor::fromRgb(*entry.background));
            label->setPalette(palette);
        }
        label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        BindLabel(ModelOf<TLabel>(entry), label);
        return label;
    }
    case TWidgetKind::ProgressBar: {
        auto* bar = new QProgressBar(parent);
        bar->setTextVisible(false);
        BindProgressBar(ModelOf<TProgressBar>(entry), bar);
        return bar;
    }
    case TWidgetKind::PictureButton: {
        auto* button = new QToolButton(parent);
        button->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
        button->setFont(UpgradeCaptionFont());
        const QPixmap glyph = UpgradeButtonPicture();
        button->setIcon(QIcon(glyph));
        button->setIconSize(glyph.size());
        button->setFocusPolicy(Qt::StrongFocus);
        button->setAutoRaise(false);
        BindButton(ModelOf<TButton>(entry), button, Forward(entry.click));
        return button;
    }
    case TWidgetKind::Button: {
        auto* button = new QPushButton(parent);
        button->setAutoDefault(false);
        BindButton(ModelOf<TButton>(entry), button, Forward(entry.click));
        return button;
    }
    case TWidgetKind::ComboBox: {
        auto* box = new TPortListBox(parent);
        box->BeforePopup = [this] { RefreshPorts(); };
        BindComboBox(ModelOf<TComboBox>(entry), box,
                     [this](std::function<void()> change) { return input_.Dispatch(change); });
        return box;
    }
    case TWidgetKind::Image: {
        auto* image = new QLabel(parent);
        BindImage(ModelOf<TImage>(entry), image);
        return image;
    }
    }
    throw std::logic_error("unknown widget kind");
}

std::function<void()> TMainWindow::Forward(void (TForm1::*handler)()) {
    return [this, handler] {
        TForm1* form = &form_;
        input_.Dispatch([form, handler] { (form->*handler)(); });
    };
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
    if (input_.Activated() || activationQueued_) return;
    activationQueued_ = true;
    QMetaObject::invokeMethod(
        this,
        [this] {
            activationQueued_ = false;
            input_.Activate();
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
