// tarnixctl: the module from a shell. Every argument is checked before anything is sent.
#include "commandclient.h"
#include "ctlcommands.h"

#include <QCoreApplication>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("tarnixctl"));
    QCoreApplication::setApplicationVersion(QStringLiteral(TARNIX_VERSION));
    return Ctl::run(QCoreApplication::arguments());
}
