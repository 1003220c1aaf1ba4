#include <exception>
#include <iostream>
#include <memory>

#include <QApplication>
#include <QMessageBox>

#include <korvik/USBDevice.h>

#include "Application.h"

namespace {

// The box needs an application object; when construction itself failed there
// is none left, so make a plain one for the box alone.
void show_critical(int& argc, char** argv, const QString& text)
{
    std::unique_ptr<QApplication> fallback;
    if (!QApplication::instance())
        fallback = std::make_unique<QApplication>(argc, argv);
    QMessageBox::critical(nullptr, QApplication::translate("main", "KORVIK"), text,
                          QMessageBox::Abort, QMessageBox::Abort);
}

} // namespace

int main(int argc, char** argv)
{
    std::unique_ptr<Application> app;
    try {
        app = std::make_unique<Application>(argc, argv);
        const int code = app->run();
        app.reset();
        return code;
    } catch (const std::exception& e) {
        std::cerr << "exception: " << e.what() << std::endl;
        show_critical(argc, argv, QApplication::translate("main", "A critical error has occured:\n%1")
                                      .arg(QString::fromLocal8Bit(e.what())));
    } catch (...) {
        std::cerr << "exception caught" << std::endl;
        show_critical(argc, argv, QApplication::translate("main", "An unknown critical error has occured."));
    }
    return 1;
}
