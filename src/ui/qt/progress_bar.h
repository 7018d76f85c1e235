// The bar surface of the progress window: a retained image redrawn whole on
// every update, the percentage centred on it and the bar laid over it in the
// not-XOR mode, so the covered part of the text shows inverted.
#pragma once

#include <QColor>
#include <QFont>
#include <QImage>
#include <QWidget>
#include <cstdint>

namespace veltrix::qt {

// Colours of the core are 0x00BBGGRR.
QColor fromBgr(std::uint32_t bgr);

// Draws one state of the bar into `image` (whole image redrawn).
void renderProgress(QImage& image, const QColor& back, const QColor& fore, const QFont& font,
                    std::int32_t percent);

class ProgressBar final : public QWidget {
    Q_OBJECT
public:
    explicit ProgressBar(QWidget* parent = nullptr);

    // Prepares the surface; draws nothing.
    void prepare(std::uint32_t backColor, std::uint32_t foreColor, bool bold);
    // Redraws the retained image and puts it on screen before returning.
    void updateStatus(std::int32_t percent);

    const QImage& image() const { return image_; }
    QColor backColor() const { return back_; }
    QColor foreColor() const { return fore_; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;

private:
    QImage image_;
    QColor back_;
    QColor fore_;
    QFont font_;
};

}  // namespace veltrix::qt
