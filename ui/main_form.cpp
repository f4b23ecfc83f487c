#include "ui/main_form.h"

#include <QApplication>
#include <QCoreApplication>
#include <QEventLoop>
#include <QFocusEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QStatusBar>
#include <QStyle>

#include "ui/glyphs.h"
#include "ui/toolkit.h"
#include "ui_main_form.h"

TForm1* Form1 = nullptr;

namespace {

// Focus that moves because another window (a message box, a dialog) became
// active, or because a context menu opened, is no enter or exit: the user has
// not moved between the window's own controls. Reacting to it would make the
// "NO FILE" box raise itself again as soon as it takes the focus.
bool IsControlChange(Qt::FocusReason reason) {
    return reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason;
}

// Drops the user's input instead of handling it.
class InputDiscarder final : public QObject {
protected:
    bool eventFilter(QObject*, QEvent* event) override {
        switch (event->type()) {
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonRelease:
        case QEvent::MouseButtonDblClick:
        case QEvent::KeyPress:
        case QEvent::KeyRelease:
        case QEvent::ShortcutOverride:
        case QEvent::Shortcut:
        case QEvent::Wheel:
        case QEvent::TouchBegin:
        case QEvent::TouchUpdate:
        case QEvent::TouchEnd:
        case QEvent::TabletPress:
        case QEvent::TabletRelease:
            return true;
        default:
            return false;
        }
    }
};

// While pkexec waits for the authentication dialog, the window repaints but
// takes no input, as under the program's other modal dialogs. The input is
// discarded, not held back: Qt delivers input it was told to exclude at the
// next full pass of the event loop, so a click on Create meanwhile would
// start a second request as soon as this one had ended.
void KeepPaintingWithoutInput() {
    static InputDiscarder discarder;
    QCoreApplication::instance()->installEventFilter(&discarder);
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    QCoreApplication::instance()->removeEventFilter(&discarder);
}

} // namespace

TForm1::TForm1(QWidget* owner)
    : QWidget(owner), form_(std::make_unique<Ui::TForm1>()), toolkit_(&ui::QtToolkit()),
      installer_(&elevatingInstaller_) {
    form_->setupUi(this);
    elevatingInstaller_.SetWaitHook(KeepPaintingWithoutInput);
    StatusBar1 = form_->StatusBar1;
    Memo1 = form_->Memo1;
    DBNameEdit = form_->DBNameEdit;
    DSNNameEdit = form_->DSNNameEdit;
    DirectoryEdit = form_->DirectoryEdit;
    CancelBBtn = form_->CancelBBtn;
    BitBtn2 = form_->BitBtn2;
    DBNameBtn = form_->DBNameBtn;
    DirBrowseBtn = form_->DirBrowseBtn;
    Label1 = form_->Label1;
    Label2 = form_->Label2;
    Label3 = form_->Label3;
    BitBtn3 = form_->BitBtn3;
    OpenDialog1.Filter = "MS Access Database|*.mdb";

    // Labels size themselves to their caption. The form's sizes are those of
    // the fonts it names; where the system substitutes a wider font, a label
    // of the stored width would cut its caption short.
    for (QLabel* label : {Label1, Label2, Label3}) {
        label->adjustSize();
    }

    // A dialog frame of fixed size with a bare title bar: no system menu, so no
    // minimise, maximise or close box. Close is the window's own button.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint);
    setFixedSize(size());
    setWindowIcon(ui::ApplicationIcon());

    for (QPushButton* button : {BitBtn2, CancelBBtn, BitBtn3}) {
        button->setIconSize(QSize(16, 16));
    }
    BitBtn2->setIcon(ui::LoadGlyph(QString::fromLatin1(ui::kCreateGlyph)));
    CancelBBtn->setIcon(ui::LoadGlyph(QString::fromLatin1(ui::kCancelGlyph)));
    BitBtn3->setIcon(ui::LoadGlyph(QString::fromLatin1(ui::kCloseGlyph)));

    DBNameEdit->installEventFilter(this);
    DSNNameEdit->installEventFilter(this);
    // Mouse events of a text view arrive at its viewport, not at the view.
    Memo1->viewport()->installEventFilter(this);

    if (owner == nullptr) {
        const QScreen* screen = QGuiApplication::primaryScreen();
        if (screen != nullptr) {
            setGeometry(QStyle::alignedRect(Qt::LeftToRight, Qt::AlignCenter, size(), screen->availableGeometry()));
        }
    }
    // First in the tab order, so the focus starts here when the window opens.
    DBNameBtn->setFocus(Qt::OtherFocusReason);

    if (Form1 == nullptr) {
        Form1 = this;
    }
}

TForm1::~TForm1() {
    if (Form1 == this) {
        Form1 = nullptr;
    }
}

void TForm1::AppendLogLine(const std::string& line) {
    QString text = QString::fromUtf8(line.data(), static_cast<qsizetype>(line.size()));
    // Every call adds exactly one line to the log. A line that ends in its own
    // line feed (the installer's error lines do) would otherwise leave an
    // empty line behind it in a Qt text view.
    if (text.endsWith(u'\n')) {
        text.chop(1);
    }
    Memo1->appendPlainText(text);
}

void TForm1::DisableCancel() { CancelBBtn->setEnabled(false); }

bool TForm1::eventFilter(QObject* watched, QEvent* event) {
    switch (event->type()) {
    case QEvent::FocusOut:
        if (watched == DBNameEdit && IsControlChange(static_cast<QFocusEvent*>(event)->reason())) {
            DBNameEditExit();
        }
        break;
    case QEvent::FocusIn:
        if (watched == DSNNameEdit && IsControlChange(static_cast<QFocusEvent*>(event)->reason())) {
            DSNNameEditEnter();
        }
        break;
    case QEvent::MouseButtonRelease:
        if (watched == Memo1->viewport() && static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
            Memo1Click();
        }
        break;
    default:
        break;
    }
    return QWidget::eventFilter(watched, event);
}

void TForm1::SetElevationSettings(dsn::ElevatingInstaller::Settings settings) {
    elevatingInstaller_ = dsn::ElevatingInstaller(std::move(settings));
    elevatingInstaller_.SetWaitHook(KeepPaintingWithoutInput);
}
