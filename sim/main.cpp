#include "simoptions.h"
#include "tarnixsim.h"

#include <QCoreApplication>

#include <cstdio>

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("tarnix-sim"));

    SimConfig config;
    QString text;
    switch (SimOptions::parse(QCoreApplication::arguments(), &config, &text)) {
    case SimOptions::Outcome::Help:
        std::fputs(text.toLocal8Bit().constData(), stdout);
        std::fflush(stdout);
        return 0;
    case SimOptions::Outcome::Error:
        std::fprintf(stderr, "tarnix-sim: %s\nTry 'tarnix-sim --help'.\n", text.toLocal8Bit().constData());
        return 1;
    case SimOptions::Outcome::Run:
        break;
    }

    TarnixSim sim;
    if (!sim.start(config)) {
        std::fprintf(stderr, "tarnix-sim: %s\n", sim.errorString().toLocal8Bit().constData());
        return 2;
    }
    const QString address = sim.address().toString();
    const QByteArray line = QStringLiteral("tarnix-sim listening: tcp=%1:%2 udp=%1:%3\n")
                                .arg(address).arg(sim.tcpPort()).arg(sim.udpPort())
                                .toLocal8Bit();
    std::fputs(line.constData(), stdout);
    std::fflush(stdout);
    return app.exec();
}
