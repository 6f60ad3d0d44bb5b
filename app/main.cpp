#include "mainwindow.h"

#include <QApplication>
#include <QStyleFactory>

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    // The designed style; Fusion is its closest built-in relative where it is missing.
    if (!QApplication::setStyle(QStringLiteral("plastique")))
        QApplication::setStyle(QStringLiteral("Fusion"));
    MainWindow window(argc, argv, nullptr);
    window.show();
    return app.exec();
}
