#include "ui/qt/desktop.h"

#include <QApplication>

#include "app/scan_driver.h"
#include "ui/qt/logo.h"
#include "ui/qt/main_window.h"
#include "ui/qt/qt_ui.h"

namespace veltrix::qt {

int runDesktop(int argc, char** argv, Platform& platform, wmi::Service& wmi, const Locale& locale) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Veltrix"));
    QApplication::setWindowIcon(makeAppIcon());
    // The program ends when the main window is unloaded, not when the last
    // visible window closes (the progress window closes before the final
    // message box).
    QApplication::setQuitOnLastWindowClosed(false);

    QtUi ui;
    ScanState state;
    MainWindow main(state, platform, wmi, ui, [&](ScanState& scanState, const CheckBoxes& boxes) {
        ScanServices services{ui, platform, wmi, locale, boxes};
        RunScan(scanState, services);
    });
    ui.attach(&main);
    QObject::connect(&main, &MainWindow::unloaded, &app, &QCoreApplication::quit, Qt::QueuedConnection);
    main.startUp();
    return QApplication::exec();
}

}  // namespace veltrix::qt
