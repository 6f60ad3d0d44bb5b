#include "mainwindow.h"

#include <QApplication>
#include <QIcon>
#include <QStyleFactory>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    // The designed style; Fusion is its closest built-in relative where it is missing.
    if (!QApplication::setStyle(QStringLiteral("plastique")))
        QApplication::setStyle(QStringLiteral("Fusion"));
    // The installed icon of the desktop entry, also for window managers that ask the window;
    // the program's own copy where it is not installed.
    QApplication::setWindowIcon(
        QIcon::fromTheme(QStringLiteral("tarnix2-utility"), QIcon(QStringLiteral(":/tarnix2-utility.svg"))));
    QGuiApplication::setDesktopFileName(QStringLiteral("tarnix2-utility"));
    MainWindow window(argc, argv, nullptr);
    window.show();
    return app.exec();
}
