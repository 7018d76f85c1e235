#include "ui/qt/progress_bar.h"

#include <QPainter>
#include <QPaintEvent>

#include "app/progress_logic.h"
#include "ui/qt/qt_text.h"

namespace veltrix::qt {

QColor fromBgr(std::uint32_t bgr) { return QColor(bgr & 0xFF, (bgr >> 8) & 0xFF, (bgr >> 16) & 0xFF); }

void renderProgress(QImage& image, const QColor& back, const QColor& fore, const QFont& font,
                    std::int32_t percent) {
    const std::int32_t p = ClampProgress(percent);
    const QString text = toQString(ProgressText(p));
    image.fill(back);

    QPainter painter(&image);
    painter.setFont(font);
    const QFontMetrics metrics(font);
    const ProgressLayout layout = LayoutProgress(p, image.width(), image.height(),
                                                 metrics.horizontalAdvance(text), metrics.height());
    painter.setPen(fore);
    painter.drawText(layout.textX, layout.textY + metrics.ascent(), text);

    // NOT(pen XOR screen): white under the bar becomes the pen colour, text
    // in the pen colour becomes white.
    painter.setCompositionMode(QPainter::RasterOp_NotSourceXorDestination);
    painter.fillRect(0, 0, layout.barWidth, image.height(), fore);
}

ProgressBar::ProgressBar(QWidget* parent)
    : QWidget(parent), back_(palette().color(QPalette::Button)), fore_(Qt::black) {
    font_ = QFont(QStringLiteral("MS Sans Serif"));
    font_.setStyleHint(QFont::SansSerif);
    font_.setPointSizeF(8.25);
    // Crisp glyphs: inverting an anti-aliased edge gives coloured fringes.
    font_.setStyleStrategy(QFont::NoAntialias);
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void ProgressBar::prepare(std::uint32_t backColor, std::uint32_t foreColor, bool bold) {
    font_.setBold(bold);
    back_ = fromBgr(backColor);
    fore_ = fromBgr(foreColor);
}

void ProgressBar::updateStatus(std::int32_t percent) {
    if (image_.size() != size()) image_ = QImage(size(), QImage::Format_RGB32);
    renderProgress(image_, back_, fore_, font_, percent);
    repaint();  // on screen now, not at the next idle moment
}

void ProgressBar::paintEvent(QPaintEvent* event) {
    QPainter painter(this);
    if (image_.isNull())
        painter.fillRect(event->rect(), back_);
    else
        painter.drawImage(event->rect(), image_, event->rect());
}

void ProgressBar::resizeEvent(QResizeEvent*) {
    // A surface of a new size starts cleared; the same size keeps its image.
    if (image_.size() == size()) return;
    image_ = QImage(size(), QImage::Format_RGB32);
    image_.fill(back_);
}

}  // namespace veltrix::qt
