// The desktop windows driven as a user would, without a display.
#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QSignalSpy>
#include <QTimer>
#include <QtTest>

#include "app/scan_driver.h"
#include "app/window_fakes.h"
#include "core/locale.h"
#include "ui/qt/comment_dialog.h"
#include "ui/qt/main_window.h"
#include "ui/qt/name_dialog.h"
#include "ui/qt/progress_window.h"
#include "ui/qt/qt_ui.h"
#include "ui/qt/start_window.h"

using namespace veltrix;
using namespace veltrix::qt;
using veltrix::testing::EnclosureService;
using veltrix::testing::MemoryPlatform;
using veltrix::testing::RecordedMessage;

namespace {

void saveShot(QWidget& widget, const QString& name) {
    QDir().mkpath(QStringLiteral(VELTRIX_SCREENSHOTS));
    widget.grab().save(QStringLiteral(VELTRIX_SCREENSHOTS "/") + name + QStringLiteral(".png"));
}

const QColor kWhite(255, 255, 255);
// Centring works in hundredths of the width (5.21 px here) and on the text's
// advance, not its ink: the ink's middle lies within a unit of the centre.
constexpr int kCentreSlack = 6;
const QColor kBlue(0, 0, 0xC0);  // 0xC00000 in blue-green-red order

struct Columns {
    int blue = 0, white = 0, other = 0;
    int minBlueX = INT_MAX, maxBlueX = -1, minWhiteX = INT_MAX, maxWhiteX = -1;
};

Columns scan(const QImage& image, int fromY, int toY, int fromX, int toX) {
    Columns c;
    for (int y = fromY; y < toY; ++y)
        for (int x = fromX; x < toX; ++x) {
            const QColor px = image.pixelColor(x, y);
            if (px == kBlue) {
                ++c.blue;
                c.minBlueX = std::min(c.minBlueX, x);
                c.maxBlueX = std::max(c.maxBlueX, x);
            } else if (px == kWhite) {
                ++c.white;
                c.minWhiteX = std::min(c.minWhiteX, x);
                c.maxWhiteX = std::max(c.maxWhiteX, x);
            } else {
                ++c.other;
            }
        }
    return c;
}

// Finds the modal dialog once it is up and hands it to `act`.
template <class Dialog>
void whenModal(std::function<void(Dialog&)> act) {
    QTimer::singleShot(0, [act] {
        auto* dialog = qobject_cast<Dialog*>(QApplication::activeModalWidget());
        QVERIFY(dialog);
        act(*dialog);
    });
}

}  // namespace

class WindowsTest : public QObject {
    Q_OBJECT

private:
    EnclosureService wmi_;
    MemoryPlatform platform_;
    QtUi ui_;
    std::vector<RecordedMessage> messages_;

    void recordMessages() {
        messages_.clear();
        ui_.setMessagePresenter([this](std::string_view text, MessageStyle style, std::string_view title) {
            messages_.push_back({std::string(text), style, std::string(title)});
        });
    }

private slots:
    void init() {
        wmi_ = EnclosureService{};
        platform_ = MemoryPlatform{};
        recordMessages();
    }

    void mainWindowShowsItsControlsInOrder() {
        ScanState state;
        MainWindow main(state, platform_, wmi_, ui_, nullptr);
        ui_.attach(&main);
        main.startUp();
        QVERIFY(main.isVisible());
        QCOMPARE(main.windowTitle(), QStringLiteral("Veltrix"));
        QVERIFY(main.hotfixBox()->isChecked());
        QVERIFY(main.softwareBox()->isChecked());
        QCOMPARE(main.hotcheck(), 1);
        QCOMPARE(main.swcheck(), 1);
        QCOMPARE(main.exitButton()->text(), QStringLiteral("E&xit"));
        QCOMPARE(main.createReportButton()->text(), QStringLiteral("create &report"));
        QCOMPARE(main.addCommentButton()->text(), QStringLiteral("Add Comment"));
        QCOMPARE(main.createReportButton()->geometry(), QRect(208, 56, 121, 33));  // 3120, 840, 1815, 495 twips
        QCOMPARE(QApplication::overrideCursor(), nullptr);

        const std::vector<QWidget*> order{main.exitButton(), main.createReportButton(), main.softwareBox(),
                                          main.hotfixBox(), main.addCommentButton()};
        for (std::size_t i = 0; i + 1 < order.size(); ++i)
            QCOMPARE(order[i]->nextInFocusChain(), order[i + 1]);
        saveShot(main, QStringLiteral("main_window"));

        QSignalSpy unloaded(&main, &MainWindow::unloaded);
        QTest::mouseClick(main.exitButton(), Qt::LeftButton);
        QCOMPARE(unloaded.count(), 1);
        QVERIFY(!main.isVisible());
    }

    void startWindowSaysPleaseWait() {
        StartWindow start;
        start.show();
        QCOMPARE(start.text()->text(), QStringLiteral("Please wait . . ."));
        QCOMPARE(start.text()->font().pointSize(), 12);
        saveShot(start, QStringLiteral("start_window"));
    }

    void nameDialogProposesAndFiltersTypedAndPastedText() {
        ScanState state;
        wmi_.serials = {wmi::Value::text("  PF0ABC12  ")};
        veltrix::testing::RecordingUi ui;
        NameDialog dialog(state, platform_, wmi_, ui, nullptr);
        dialog.load();
        dialog.show();
        QCOMPARE(dialog.windowTitle(), QStringLiteral("Set Filename"));
        QCOMPARE(dialog.nameField()->text(), QStringLiteral("PF0ABC12"));
        QVERIFY(dialog.okButton()->isDefault());
        saveShot(dialog, QStringLiteral("name_dialog"));

        dialog.nameField()->clear();
        QTest::keyClicks(dialog.nameField(), QStringLiteral("PC 042\"/\\:*?<>|.x-1"));
        QCOMPARE(dialog.nameField()->text(), QStringLiteral("PC042.x-1"));
        QTest::keyClick(dialog.nameField(), Qt::Key_Backspace);
        QCOMPARE(dialog.nameField()->text(), QStringLiteral("PC042.x-"));

        QApplication::clipboard()->setText(QStringLiteral("../../etc/pass wd"));
        dialog.nameField()->paste();
        QCOMPARE(dialog.nameField()->text(), QStringLiteral("PC042.x-....etcpasswd"));
        dialog.nameField()->setCursorPosition(2);
        dialog.nameField()->insert(QStringLiteral("a/b"));
        QCOMPARE(dialog.nameField()->text(), QStringLiteral("PCab042.x-....etcpasswd"));
        QCOMPARE(dialog.nameField()->cursorPosition(), 4);
    }

    void emptyNameShowsTheMessageAndKeepsTheFocus() {
        ScanState state;
        veltrix::testing::RecordingUi ui;
        bool scanned = false;
        NameDialog dialog(state, platform_, wmi_, ui, [&] { scanned = true; });
        dialog.load();
        dialog.show();
        QVERIFY(QTest::qWaitForWindowActive(&dialog));
        dialog.okButton()->setFocus();
        QTest::mouseClick(dialog.okButton(), Qt::LeftButton);
        QCOMPARE(ui.messages.size(), std::size_t{1});
        QCOMPARE(QString::fromStdString(ui.messages[0].text), QStringLiteral("Bitte das Feld Bezeichnung ausfüllen"));
        QCOMPARE(ui.messages[0].style, MessageStyle::Critical);
        QVERIFY(dialog.isVisible());
        QVERIFY(dialog.nameField()->hasFocus());
        QVERIFY(!scanned);

        // Enter presses the default button.
        QTest::keyClicks(dialog.nameField(), QStringLiteral("abc"));
        QTest::keyClick(dialog.nameField(), Qt::Key_Return);
        QVERIFY(scanned);
        QCOMPARE(state.reportName, std::string("abc.htm"));
        QCOMPARE(platform_.created, std::vector<std::string>{"/opt/veltrix/abc.htm"});
    }

    void secondPressShowsTheSameDialog() {
        ScanState state;
        MainWindow main(state, platform_, wmi_, ui_, nullptr);
        main.show();
        QTest::mouseClick(main.createReportButton(), Qt::LeftButton);
        NameDialog* first = main.nameDialog();
        QVERIFY(first->isVisible());
        first->nameField()->setText(QStringLiteral("typed"));
        QTest::mouseClick(main.createReportButton(), Qt::LeftButton);
        QCOMPARE(main.nameDialog(), first);
        QCOMPARE(main.findChildren<NameDialog*>().size(), 1);
        QCOMPARE(first->nameField()->text(), QStringLiteral("typed"));  // not loaded again

        QTest::mouseClick(first->cancelButton(), Qt::LeftButton);
        QVERIFY(!first->isVisible());
        wmi_.serials = {wmi::Value::text("NEW")};
        QTest::mouseClick(main.createReportButton(), Qt::LeftButton);
        QCOMPARE(first->nameField()->text(), QStringLiteral("NEW"));  // loaded afresh after Cancel
        QVERIFY(platform_.created.empty());
    }

    void sectionsReadTheCheckBoxesWhenTheyRun() {
        ScanState state;
        int hotSeen = -1, swSeen = -1;
        MainWindow main(state, platform_, wmi_, ui_, [&](ScanState&, const CheckBoxes& boxes) {
            hotSeen = boxes.hotcheck();
            swSeen = boxes.swcheck();
        });
        ui_.attach(&main);
        main.show();
        QTest::mouseClick(main.createReportButton(), Qt::LeftButton);
        QTest::mouseClick(main.hotfixBox(), Qt::LeftButton);  // changed after the dialog opened
        main.nameDialog()->nameField()->setText(QStringLiteral("PC042"));
        QTest::mouseClick(main.nameDialog()->okButton(), Qt::LeftButton);
        QCOMPARE(hotSeen, 0);
        QCOMPARE(swSeen, 1);
    }

    void scanRunsInsideTheOkClickAndEndsTheProgram() {
        ScanState state;
        const EnglishLocale locale;
        std::vector<std::int32_t> seenProgress;
        MainWindow main(state, platform_, wmi_, ui_, [&](ScanState& s, const CheckBoxes& boxes) {
            ScanServices services{ui_, platform_, wmi_, locale, boxes};
            RunScan(s, services);
        });
        ui_.attach(&main);
        main.show();
        QSignalSpy unloaded(&main, &MainWindow::unloaded);
        QTest::mouseClick(main.createReportButton(), Qt::LeftButton);
        main.nameDialog()->nameField()->setText(QStringLiteral("PC042"));
        QTest::mouseClick(main.nameDialog()->okButton(), Qt::LeftButton);

        QVERIFY(!main.nameDialog()->isVisible());
        QVERIFY(!ui_.progress().isVisible());
        QVERIFY(!messages_.empty());
        QCOMPARE(QString::fromStdString(messages_.back().text),
                 QStringLiteral("The file is saved on /opt/veltrix/PC042.htm"));
        QCOMPARE(platform_.opened, std::vector<std::string>{"/opt/veltrix/PC042.htm"});
        QCOMPARE(unloaded.count(), 1);
        QCOMPARE(QApplication::overrideCursor(), nullptr);
        ui_.progressUnload();
    }

    void aReportThatCannotBeCreatedReturnsToTheMainWindow() {
        ScanState state;
        const EnglishLocale locale;
        platform_.refuseCreate = true;
        MainWindow main(state, platform_, wmi_, ui_, [&](ScanState& s, const CheckBoxes& boxes) {
            ScanServices services{ui_, platform_, wmi_, locale, boxes};
            RunScan(s, services);
        });
        ui_.attach(&main);
        main.show();
        QSignalSpy unloaded(&main, &MainWindow::unloaded);
        QTest::mouseClick(main.createReportButton(), Qt::LeftButton);
        main.nameDialog()->nameField()->setText(QStringLiteral("PC042"));
        QTest::mouseClick(main.nameDialog()->okButton(), Qt::LeftButton);
        QCOMPARE(messages_.size(), std::size_t{1});
        QCOMPARE(QString::fromStdString(messages_[0].text), QStringLiteral("Could not create the file..."));
        QVERIFY(main.isVisible());
        QCOMPARE(unloaded.count(), 0);
        QVERIFY(!main.scanning());
        // The user may try again: the dialog opens afresh.
        QTest::mouseClick(main.createReportButton(), Qt::LeftButton);
        QVERIFY(main.nameDialog()->isVisible());
    }

    void progressBarDrawsPercentageAndInvertedBar() {
        ProgressBar bar;
        bar.resize(521, 25);
        bar.prepare(0xFFFFFF, 0xC00000, false);
        QCOMPARE(bar.foreColor(), kBlue);

        bar.updateStatus(0);
        QImage zero = bar.image();
        Columns z = scan(zero, 0, 25, 0, 521);
        QCOMPARE(z.other, 0);
        QVERIFY(z.blue > 10);                                   // the text "0%", in the drawing colour
        QCOMPARE(scan(zero, 0, 1, 0, 521).blue, 0);             // no bar
        QVERIFY(std::abs((z.minBlueX + z.maxBlueX) / 2 - 260) <= kCentreSlack);  // centred
        saveShot(bar, QStringLiteral("progress_bar_0"));

        bar.updateStatus(45);
        const QImage at45 = bar.image();
        const Columns top45 = scan(at45, 0, 1, 0, 521);
        QCOMPARE(top45.blue, 234);  // 45 hundredths of 521 pixels
        QCOMPARE(top45.maxBlueX, 233);
        const Columns text45 = scan(at45, 1, 24, 234, 521);
        QVERIFY(text45.blue > 10);  // "45%" beside the bar, in the drawing colour
        QVERIFY(std::abs((text45.minBlueX + text45.maxBlueX) / 2 - 260) <= kCentreSlack);
        saveShot(bar, QStringLiteral("progress_bar_45"));

        bar.updateStatus(49);  // the bar's edge runs through the text
        const QImage at49 = bar.image();
        const Columns underBar = scan(at49, 1, 24, 0, 255);
        const Columns besideBar = scan(at49, 1, 24, 255, 521);
        QVERIFY(underBar.white > 5);   // covered text shows white on blue
        QVERIFY(underBar.minWhiteX > 240);
        QVERIFY(besideBar.blue > 5);   // uncovered text keeps the drawing colour
        saveShot(bar, QStringLiteral("progress_bar_49"));

        bar.updateStatus(150);
        const QImage full = bar.image();
        QCOMPARE(scan(full, 0, 1, 0, 521).blue, 521);  // drawn as 100: a full bar
        const Columns inverted = scan(full, 0, 25, 0, 521);
        QCOMPARE(inverted.other, 0);
        QVERIFY(inverted.white > 10);  // "100%" in white over the bar
        QVERIFY(std::abs((inverted.minWhiteX + inverted.maxWhiteX) / 2 - 260) <= kCentreSlack);
        bar.updateStatus(100);
        QCOMPARE(bar.image(), full);
        saveShot(bar, QStringLiteral("progress_bar_150"));
    }

    void progressWindowRefusesTheUsersClose() {
        QtUi ui;
        ui.progressSetCaption("Veltrix");
        ui.progressVisiblePicture(0xFFFFFF, 0xC00000, false);
        ui.progressSetMessage("Scan is running, please wait...");
        ui.progressShow();
        ui.progressUpdate(45);
        ProgressWindow& window = ui.progress();
        QCOMPARE(window.windowTitle(), QStringLiteral("Veltrix"));
        QCOMPARE(window.hint()->text(), QStringLiteral("Scan is running, please wait..."));
        QVERIFY(window.doLabel()->font().bold());
        saveShot(window, QStringLiteral("progress_window"));

        QVERIFY(!window.close());
        QVERIFY(window.isVisible());
        QTest::keyClick(&window, Qt::Key_Escape);
        QVERIFY(window.isVisible());

        QVERIFY(ui.progressUnload().ok());
        QVERIFY(!window.isVisible());
        // Loading it again starts with an empty message line.
        ui.progressShow();
        QCOMPARE(ui.progress().hint()->text(), QString());
        ui.progressUnload();
    }

    void commentRoundTripKeepsTheEntity() {
        ScanState state;
        MainWindow main(state, platform_, wmi_, ui_, nullptr);
        main.show();

        whenModal<CommentDialog>([](CommentDialog& d) {
            QCOMPARE(d.windowTitle(), QStringLiteral("Comment"));
            QCOMPARE(d.commentField()->text(), QString());
            QTest::keyClicks(d.commentField(), QStringLiteral("Pr"));
            QTest::sendKeyEvent(QTest::Click, d.commentField(), Qt::Key_Udiaeresis, QStringLiteral("ü"),
                                Qt::NoModifier);
            QTest::keyClicks(d.commentField(), QStringLiteral("fung"));
            saveShot(d, QStringLiteral("comment_dialog"));
            QTest::mouseClick(d.okButton(), Qt::LeftButton);
        });
        QTest::mouseClick(main.addCommentButton(), Qt::LeftButton);
        QCOMPARE(state.comment, std::string("Pr&uuml;fung"));

        whenModal<CommentDialog>([](CommentDialog& d) {
            QCOMPARE(d.commentField()->text(), QStringLiteral("Pr&uuml;fung"));
            QTest::mouseClick(d.okButton(), Qt::LeftButton);
        });
        QTest::mouseClick(main.addCommentButton(), Qt::LeftButton);
        QCOMPARE(state.comment, std::string("Pr&uuml;fung"));

        for (auto cancel : {0, 1}) {
            whenModal<CommentDialog>([cancel](CommentDialog& d) {
                d.commentField()->setText(QStringLiteral("changed"));
                if (cancel)
                    QTest::mouseClick(d.cancelButton(), Qt::LeftButton);
                else
                    QTest::keyClick(d.commentField(), Qt::Key_Escape);
            });
            QTest::mouseClick(main.addCommentButton(), Qt::LeftButton);
            QCOMPARE(state.comment, std::string("Pr&uuml;fung"));
        }
    }

    void messageBoxesCarryTheAppTitle() {
        // The real presenter is not used here (it would wait for a click);
        // QtUi passes the text, style and title through untouched.
        ui_.messageBox("An error", MessageStyle::Critical);
        ui_.messageBox("The file is saved on x", MessageStyle::Plain, "File is saved");
        QCOMPARE(messages_.size(), std::size_t{2});
        QCOMPARE(messages_[0].title, std::string());
        QCOMPARE(messages_[1].title, std::string("File is saved"));
        // The hourglass is lifted while a box is up and comes back after it.
        ui_.setPointer(kPointerHourglass);
        ui_.setMessagePresenter([](std::string_view, MessageStyle, std::string_view) {
            QCOMPARE(QApplication::overrideCursor(), nullptr);
        });
        ui_.messageBox("x", MessageStyle::Plain);
        QVERIFY(QApplication::overrideCursor() != nullptr);
        ui_.setPointer(kPointerDefault);
        QCOMPARE(QApplication::overrideCursor(), nullptr);
        QVERIFY(!ui_.setPointer(3).ok());
    }
};

QTEST_MAIN(WindowsTest)
#include "windows_test.moc"
