// The progress window: a message line, a second line no code sets, and the
// bar. The user cannot close it; the program can.
#pragma once

#include <QLabel>
#include <QWidget>

#include "ui/qt/progress_bar.h"

namespace veltrix::qt {

class ProgressWindow final : public QWidget {
    Q_OBJECT
public:
    explicit ProgressWindow(QWidget* parent = nullptr);

    // Loading: the message line is emptied and the event loop runs once.
    void load();
    // Closing by the program.
    void unload();
    bool loaded() const { return loaded_; }

    QLabel* hint() const { return hint_; }
    QLabel* doLabel() const { return do_; }
    ProgressBar* bar() const { return bar_; }

    // Redraws the bar and yields once to the event loop.
    void updateStatus(std::int32_t percent);

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    QLabel* hint_;
    QLabel* do_;
    ProgressBar* bar_;
    bool loaded_ = false;
    bool unloading_ = false;
};

}  // namespace veltrix::qt
