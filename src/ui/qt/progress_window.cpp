#include "ui/qt/progress_window.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QGuiApplication>
#include <QScreen>

#include "app/window_layouts.h"

namespace veltrix::qt {

namespace {

QRect pixels(const ControlLayout& c) {
    return QRect(TwipsToPixels(c.left), TwipsToPixels(c.top), TwipsToPixels(c.width), TwipsToPixels(c.height));
}

}  // namespace

ProgressWindow::ProgressWindow(QWidget* parent)
    : QWidget(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint) {
    setObjectName(QStringLiteral("frmUpdate"));
    setFixedSize(TwipsToPixels(kProgressClientWidth), TwipsToPixels(kProgressClientHeight));

    hint_ = new QLabel(this);
    hint_->setObjectName(QStringLiteral("lblHinweis"));
    hint_->setAlignment(Qt::AlignCenter);
    hint_->setGeometry(pixels(kProgressHint));

    do_ = new QLabel(this);
    do_->setObjectName(QStringLiteral("lblDo"));
    do_->setAlignment(Qt::AlignCenter);
    QFont bold(QStringLiteral("MS Sans Serif"));
    bold.setStyleHint(QFont::SansSerif);
    bold.setPointSizeF(8.25);
    bold.setBold(true);
    do_->setFont(bold);
    do_->setGeometry(pixels(kProgressDo));

    bar_ = new ProgressBar(this);
    bar_->setObjectName(QStringLiteral("Picture1"));
    bar_->setGeometry(pixels(kProgressPicture));
}

void ProgressWindow::load() {
    if (loaded_) return;
    loaded_ = true;
    hint_->clear();
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
    QCoreApplication::processEvents();
}

void ProgressWindow::unload() {
    unloading_ = true;
    close();
    unloading_ = false;
    loaded_ = false;
}

void ProgressWindow::updateStatus(std::int32_t percent) {
    bar_->updateStatus(percent);
    QCoreApplication::processEvents();
}

void ProgressWindow::closeEvent(QCloseEvent* event) {
    if (unloading_)
        event->accept();
    else
        event->ignore();  // the scan is still writing; the user waits for it
}

}  // namespace veltrix::qt
