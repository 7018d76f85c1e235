// The start-up window shown for the moment the main window loads.
#pragma once

#include <QLabel>
#include <QWidget>

namespace veltrix::qt {

class StartWindow final : public QWidget {
    Q_OBJECT
public:
    explicit StartWindow(QWidget* owner = nullptr);
    QLabel* text() const { return text_; }
    // Centres the window over its owner (or the screen when the owner has no
    // place yet).
    void centreOnOwner();

private:
    QLabel* text_;
};

}  // namespace veltrix::qt
