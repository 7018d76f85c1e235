#include "ui/qt/comment_dialog.h"

#include <QFrame>
#include <QGuiApplication>
#include <QScreen>

#include "app/comment_logic.h"
#include "app/window_layouts.h"
#include "ui/qt/qt_text.h"

namespace veltrix::qt {

namespace {

QRect pixels(const ControlLayout& c) {
    return QRect(TwipsToPixels(c.left), TwipsToPixels(c.top), TwipsToPixels(c.width), TwipsToPixels(c.height));
}

}  // namespace

CommentDialog::CommentDialog(ScanState& state, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint),
      state_(state) {
    setObjectName(QStringLiteral("frmComment"));
    setWindowTitle(toQString(kCommentCaption));
    setModal(true);
    setFixedSize(TwipsToPixels(kCommentClientWidth), TwipsToPixels(kCommentClientHeight));

    auto* panel = new QFrame(this);
    panel->setFrameShape(QFrame::StyledPanel);
    panel->setGeometry(pixels(kCommentPanel));

    field_ = new QLineEdit(panel);
    field_->setObjectName(QStringLiteral("txtComment"));
    field_->setGeometry(pixels(kCommentControls[0]));
    field_->setAlignment(Qt::AlignLeft | Qt::AlignTop);

    ok_ = new QPushButton(toQString(kCommentControls[1].caption), this);
    ok_->setObjectName(QStringLiteral("cmdOK"));
    ok_->setGeometry(pixels(kCommentControls[1]));
    ok_->setAutoDefault(false);

    cancel_ = new QPushButton(toQString(kCommentControls[2].caption), this);
    cancel_->setObjectName(QStringLiteral("cmdCancel"));
    cancel_->setGeometry(pixels(kCommentControls[2]));
    cancel_->setAutoDefault(false);

    auto* prompt = new QLabel(toQString(kCommentControls[3].caption), panel);
    prompt->setObjectName(QStringLiteral("lblNotes"));
    prompt->setGeometry(pixels(kCommentControls[3]));

    setTabOrder(field_, ok_);
    setTabOrder(ok_, cancel_);
    connect(ok_, &QPushButton::clicked, this, &CommentDialog::confirm);
    connect(cancel_, &QPushButton::clicked, this, &QDialog::reject);  // Esc lands in reject() as well

    const std::string stored = CommentForDialog(state_);
    if (!stored.empty()) field_->setText(toQString(stored));
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
    field_->setFocus();
}

void CommentDialog::confirm() {
    ConfirmComment(state_, toUtf8(field_->text()));
    accept();
}

}  // namespace veltrix::qt
