#include "ui/qt/main_window.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QScreen>

#include "app/window_layouts.h"
#include "ui/qt/comment_dialog.h"
#include "ui/qt/logo.h"
#include "ui/qt/name_dialog.h"
#include "ui/qt/qt_text.h"
#include "ui/qt/start_window.h"

namespace veltrix::qt {

namespace {

QRect pixels(const ControlLayout& c) {
    return QRect(TwipsToPixels(c.left), TwipsToPixels(c.top), TwipsToPixels(c.width), TwipsToPixels(c.height));
}

template <class W>
W* place(W* widget, const ControlLayout& c) {
    widget->setObjectName(toQString(c.name));
    widget->setGeometry(pixels(c));
    return widget;
}

// The controls keep their places; where the system's font is wider than the
// one the layout was made for, the caption's font shrinks until it fits.
void fitCaption(QAbstractButton* button, int chrome) {
    QFont font = button->font();
    QString caption = button->text();
    caption.remove(QLatin1Char('&'));
    for (qreal size = font.pointSizeF(); size > 6.0; size -= 0.25) {
        font.setPointSizeF(size);
        if (QFontMetrics(font).horizontalAdvance(caption) + chrome <= button->width()) break;
    }
    button->setFont(font);
}

}  // namespace

MainWindow::MainWindow(ScanState& state, Platform& platform, wmi::Service& wmi, Ui& ui, ScanRunner runScan)
    : QWidget(nullptr, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                           Qt::WindowMinimizeButtonHint),
      state_(state), platform_(platform), wmi_(wmi), ui_(ui), runScan_(std::move(runScan)) {
    setObjectName(QStringLiteral("frmMain"));
    setWindowTitle(toQString(kMainCaption));
    setFixedSize(TwipsToPixels(kMainClientWidth), TwipsToPixels(kMainClientHeight));

    // Created in tab order, so the focus chain follows the table.
    exit_ = place(new QPushButton(toQString(kMainControls[0].caption), this), kMainControls[0]);
    create_ = place(new QPushButton(toQString(kMainControls[1].caption), this), kMainControls[1]);
    sw_ = place(new QCheckBox(toQString(kMainControls[2].caption), this), kMainControls[2]);
    hot_ = place(new QCheckBox(toQString(kMainControls[3].caption), this), kMainControls[3]);
    comment_ = place(new QPushButton(toQString(kMainControls[4].caption), this), kMainControls[4]);
    setTabOrder(exit_, create_);
    setTabOrder(create_, sw_);
    setTabOrder(sw_, hot_);
    setTabOrder(hot_, comment_);
    sw_->setChecked(true);
    hot_->setChecked(true);
    const int boxChrome = hot_->sizeHint().width() - hot_->fontMetrics().horizontalAdvance(hot_->text());
    for (QAbstractButton* box : {static_cast<QAbstractButton*>(sw_), static_cast<QAbstractButton*>(hot_)})
        fitCaption(box, boxChrome);
    // The two switches read alike: both take the smaller of their sizes.
    QFont boxFont = sw_->font().pointSizeF() < hot_->font().pointSizeF() ? sw_->font() : hot_->font();
    sw_->setFont(boxFont);
    hot_->setFont(boxFont);
    for (QAbstractButton* button : {exit_, create_, comment_}) fitCaption(button, 10);

    logo_ = place(new QLabel(this), kMainLogo);
    logo_->setPixmap(makeLogo(logo_->size()));

    connect(exit_, &QPushButton::clicked, this, [this] {
        if (logic_.allows(MainWindowAction::Exit)) unload();  // the scan ends the program itself
    });
    connect(create_, &QPushButton::clicked, this, &MainWindow::showNameDialog);
    connect(comment_, &QPushButton::clicked, this, &MainWindow::showCommentDialog);

    nameDialog_ = new NameDialog(state_, platform_, wmi_, ui_, [this] { this->runScan(); }, this);
}

MainWindow::~MainWindow() = default;

void MainWindow::startUp() {
    ui_.setPointer(kPointerHourglass);
    hide();
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
    {
        StartWindow start(this);
        start.centreOnOwner();
        start.show();
        QCoreApplication::processEvents();
        start.hide();
    }
    show();
    ui_.setPointer(kPointerDefault);
}

void MainWindow::unload() { close(); }

void MainWindow::closeEvent(QCloseEvent* event) {
    if (!logic_.allows(MainWindowAction::Close) && !unloaded_ && event->spontaneous()) {
        event->ignore();  // a scan is writing the report; it ends the program when done
        return;
    }
    nameDialog_->unload();
    event->accept();
    if (!unloaded_) {
        unloaded_ = true;
        emit unloaded();
    }
}

void MainWindow::showNameDialog() {
    // While a scan runs the dialog is gone and must not start a second one.
    if (!logic_.allows(MainWindowAction::CreateReport)) return;
    nameDialog_->load();
    nameDialog_->show();
    nameDialog_->raise();
    nameDialog_->activateWindow();
}

void MainWindow::showCommentDialog() {
    // the header with the comment is already written
    if (!logic_.allows(MainWindowAction::AddComment)) return;
    CommentDialog dialog(state_, this);
    dialog.exec();
}

void MainWindow::runScan() {
    if (!runScan_) return;
    logic_.runScan([this] { runScan_(state_, *this); });
}

}  // namespace veltrix::qt
