#include "ui/qt/start_window.h"

#include <QGuiApplication>
#include <QScreen>

#include "app/window_layouts.h"
#include "ui/qt/qt_text.h"

namespace veltrix::qt {

StartWindow::StartWindow(QWidget* owner)
    : QWidget(owner, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint) {
    setObjectName(QStringLiteral("frmStart"));
    setWindowTitle(toQString(kStartCaption));
    setFixedSize(TwipsToPixels(4680), TwipsToPixels(1200));
    text_ = new QLabel(toQString(kStartText), this);
    text_->setObjectName(QStringLiteral("lblCenter"));
    QFont font(QStringLiteral("Tahoma"));
    font.setStyleHint(QFont::SansSerif);
    font.setPointSize(12);
    text_->setFont(font);
    text_->setAlignment(Qt::AlignCenter);
    text_->setGeometry(rect());
}

void StartWindow::centreOnOwner() {
    QRect area;
    if (parentWidget() && parentWidget()->isVisible())
        area = parentWidget()->frameGeometry();
    else if (parentWidget())
        area = QRect(parentWidget()->pos(), parentWidget()->size());
    else if (const QScreen* screen = QGuiApplication::primaryScreen())
        area = screen->availableGeometry();
    move(area.center() - rect().center());
}

}  // namespace veltrix::qt
