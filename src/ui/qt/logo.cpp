#include "ui/qt/logo.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

namespace veltrix::qt {

void drawMark(QPainter& painter, const QRectF& box) {
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, true);
    const qreal s = std::min(box.width(), box.height());
    const QRectF tile(box.center().x() - s / 2, box.center().y() - s / 2, s, s);

    QLinearGradient fill(tile.topLeft(), tile.bottomRight());
    fill.setColorAt(0, QColor(0x1E, 0x5A, 0xC8));
    fill.setColorAt(1, QColor(0x0B, 0x25, 0x6B));
    painter.setPen(Qt::NoPen);
    painter.setBrush(fill);
    painter.drawRoundedRect(tile, s * 0.18, s * 0.18);

    // Three stacked bars behind the V: the rows of a report.
    painter.setBrush(QColor(255, 255, 255, 60));
    for (int i = 0; i < 3; ++i)
        painter.drawRect(QRectF(tile.left() + s * 0.14, tile.top() + s * (0.22 + 0.2 * i), s * 0.72, s * 0.08));

    QPainterPath v;
    v.moveTo(tile.left() + s * 0.2, tile.top() + s * 0.24);
    v.lineTo(tile.left() + s * 0.47, tile.top() + s * 0.8);
    v.lineTo(tile.left() + s * 0.8, tile.top() + s * 0.18);
    QPen pen(Qt::white, s * 0.12, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin);
    painter.setPen(pen);
    painter.setBrush(Qt::NoBrush);
    painter.drawPath(v);

    // The beam: a small bright dot where the scan reads.
    painter.setPen(Qt::NoPen);
    painter.setBrush(QColor(0x7F, 0xE0, 0xFF));
    painter.drawEllipse(QPointF(tile.left() + s * 0.8, tile.top() + s * 0.18), s * 0.07, s * 0.07);
    painter.restore();
}

QIcon makeAppIcon() {
    QIcon icon;
    for (int size : {16, 24, 32, 48, 64, 128}) {
        QPixmap pixmap(size, size);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        drawMark(painter, QRectF(0, 0, size, size));
        painter.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}

QPixmap makeLogo(const QSize& size) {
    QPixmap pixmap(size);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    const qreal markSize = std::min(size.height(), size.width() / 3) * 0.9;
    const QRectF mark(0, (size.height() - markSize) / 2, markSize, markSize);
    drawMark(painter, mark);

    QFont font(QStringLiteral("Tahoma"));
    font.setStyleHint(QFont::SansSerif);
    font.setBold(true);
    font.setPixelSize(static_cast<int>(markSize * 0.36));
    font.setLetterSpacing(QFont::PercentageSpacing, 108);
    painter.setFont(font);
    painter.setPen(QColor(0x0B, 0x25, 0x6B));
    const QRectF textBox(mark.right() + markSize * 0.15, 0, size.width() - mark.right() - markSize * 0.15,
                         size.height());
    painter.drawText(textBox, Qt::AlignVCenter | Qt::AlignLeft, QStringLiteral("VELTRIX"));
    painter.end();
    return pixmap;
}

}  // namespace veltrix::qt
