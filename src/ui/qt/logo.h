// The program's own mark, drawn in code: a blue tile with a white V whose
// right arm ends in a scan beam. Used as the window icon and, with the name
// under it, as the main window's logo.
#pragma once

#include <QIcon>
#include <QPixmap>
#include <QRectF>

class QPainter;

namespace veltrix::qt {

void drawMark(QPainter& painter, const QRectF& box);
QIcon makeAppIcon();
// The mark with "VELTRIX" beside it, for the main window.
QPixmap makeLogo(const QSize& size);

}  // namespace veltrix::qt
