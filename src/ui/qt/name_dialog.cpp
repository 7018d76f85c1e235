#include "ui/qt/name_dialog.h"

#include <QGuiApplication>
#include <QKeyEvent>
#include <QScreen>
#include <QValidator>

#include "app/report_name_logic.h"
#include "app/window_layouts.h"
#include "ui/qt/qt_text.h"

namespace veltrix::qt {

namespace {

QRect pixels(const ControlLayout& c) {
    return QRect(TwipsToPixels(c.left), TwipsToPixels(c.top), TwipsToPixels(c.width), TwipsToPixels(c.height));
}

// Every edit of the field (a typed key, a paste, a drop) passes through here:
// refused characters are dropped, the cursor follows what is left. Text set
// by the program (the proposal) is not validated.
class NameValidator final : public QValidator {
public:
    using QValidator::QValidator;
    State validate(QString& input, int& pos) const override {
        const QString before = input.left(pos);
        const QString filtered = toQString(FilterNameText(toUtf8(input)));
        if (filtered != input) {
            pos = static_cast<int>(toQString(FilterNameText(toUtf8(before))).size());
            input = filtered;
        }
        return Acceptable;
    }
};

}  // namespace

NameDialog::NameDialog(ScanState& state, Platform& platform, wmi::Service& wmi, Ui& ui,
                       std::function<void()> runScan, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint),
      state_(state), platform_(platform), wmi_(wmi), ui_(ui), runScan_(std::move(runScan)) {
    setObjectName(QStringLiteral("frmcuz"));
    setWindowTitle(toQString(kNameDialogCaption));
    setModal(false);
    setFixedSize(TwipsToPixels(kNameDialogClientWidth), TwipsToPixels(kNameDialogClientHeight));

    field_ = new QLineEdit(this);
    field_->setObjectName(QStringLiteral("T_cuz"));
    field_->setValidator(new NameValidator(field_));
    field_->setGeometry(pixels(kNameDialogControls[0]));

    label_ = new QLabel(toQString(kNameDialogControls[1].caption), this);
    label_->setObjectName(QStringLiteral("Label1"));
    QFont labelFont(QStringLiteral("Tahoma"));
    labelFont.setStyleHint(QFont::SansSerif);
    labelFont.setPointSizeF(9.75);
    labelFont.setBold(true);
    label_->setFont(labelFont);
    label_->setGeometry(pixels(kNameDialogControls[1]));

    ok_ = new QPushButton(toQString(kNameDialogControls[2].caption), this);
    ok_->setObjectName(QStringLiteral("bb_cuzokay"));
    ok_->setGeometry(pixels(kNameDialogControls[2]));
    ok_->setDefault(true);

    cancel_ = new QPushButton(toQString(kNameDialogControls[3].caption), this);
    cancel_->setObjectName(QStringLiteral("bb_cuzabbrechen"));
    cancel_->setGeometry(pixels(kNameDialogControls[3]));
    cancel_->setAutoDefault(false);

    setTabOrder(field_, ok_);
    setTabOrder(ok_, cancel_);

    connect(ok_, &QPushButton::clicked, this, &NameDialog::confirm);
    connect(cancel_, &QPushButton::clicked, this, &NameDialog::unload);
}

void NameDialog::load() {
    if (loaded_) return;
    loaded_ = true;
    field_->clear();
    if (auto proposal = ProposeReportName(wmi_)) field_->setText(toQString(*proposal));
    if (const QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
    field_->setFocus();
}

void NameDialog::unload() {
    loaded_ = false;
    hide();
}

void NameDialog::keyPressEvent(QKeyEvent* event) {
    // Esc does not close this dialog; only Cancel does.
    if (event->key() == Qt::Key_Escape) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

void NameDialog::confirm() {
    const auto outcome = ConfirmReportName(toUtf8(field_->text()), state_, platform_, ui_, runScan_);
    if (outcome == NameConfirmation::Refused) {
        activateWindow();
        field_->setFocus();
    }
}

}  // namespace veltrix::qt
