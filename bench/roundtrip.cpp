// The round trip an operator feels on the Interactive Mode tab: from pressing Read (one D32 item)
// to the value standing in the data text, with the real window (offscreen) and the software
// module on loopback. The module's memory changes before every press, so each measurement ends
// on the new value.
//
//   bench_roundtrip [-n presses] [-g gap ms] [window options, e.g. -s 0]
//
// The gap is the pause between a value being shown and the next press; 0 presses again at once.
#include "benchmodule.h"
#include "benchsupport.h"
#include "mainwindow.h"
#include "tarnixsim.h"

#include <QApplication>
#include <QComboBox>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QLineEdit>
#include <QPushButton>
#include <QStatusBar>
#include <QTabWidget>
#include <QTextDocument>
#include <QTextEdit>
#include <QTimer>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>

namespace {

double percentile(const QVector<double> &sorted, double p)
{
    const int rank = int(std::ceil(p * sorted.size())) - 1;
    return sorted.at(std::clamp(rank, 0, int(sorted.size()) - 1));
}

} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);

    int presses = 300;
    int gapMs = 0;
    QList<QByteArray> words{"tarnix2-utility", "-a", "127.0.0.1"};
    QByteArray windowOptions;
    for (int i = 1; i < argc; ++i) {
        const QByteArray a(argv[i]);
        if (a == "-n" && i + 1 < argc) {
            presses = std::max(1, QByteArray(argv[++i]).toInt());
        } else if (a == "-g" && i + 1 < argc) {
            gapMs = std::max(0, QByteArray(argv[++i]).toInt());
        } else {
            words << a;
            windowOptions += (windowOptions.isEmpty() ? "" : " ") + a;
        }
    }

    TarnixSimThread module;
    if (!startModule(module))
        return 1;

    WindowArgs args(words);
    MainWindow w(args.argc(), args.argv.data());
    w.findChild<QLineEdit *>(QStringLiteral("tcp"))->setText(QString::number(module.sim()->tcpPort()));
    w.show();
    w.findChild<QPushButton *>(QStringLiteral("connect"))->click();
    if (!spinUntil([&] { return w.statusBar()->currentMessage() == QLatin1String("connected"); }, 5000)) {
        std::fprintf(stderr, "no connection\n");
        return 1;
    }
    w.findChild<QTabWidget *>(QStringLiteral("tabWidget"))->setCurrentIndex(3);

    QWidget *tab = w.findChild<QWidget *>(QStringLiteral("tab_2"));
    tab->findChild<QComboBox *>(QStringLiteral("datm"))->setCurrentIndex(2);
    tab->findChild<QComboBox *>(QStringLiteral("adrm"))->setCurrentIndex(2);
    tab->findChild<QLineEdit *>(QStringLiteral("addrEdit"))->setText(QStringLiteral("0x1000"));
    tab->findChild<QLineEdit *>(QStringLiteral("lenEdit"))->setText(QStringLiteral("1"));
    auto *read = tab->findChild<QPushButton *>(QStringLiteral("readButton"));
    auto *dataText = tab->findChild<QTextEdit *>(QStringLiteral("dataText"));

    QElapsedTimer clock;
    QEventLoop loop;
    QString expected;
    qint64 shownAt = -1;
    QObject::connect(dataText->document(), &QTextDocument::contentsChanged, [&] {
        if (shownAt < 0 && dataText->toPlainText() == expected) {
            shownAt = clock.nsecsElapsed();
            loop.quit();
        }
    });
    QTimer timeout;
    timeout.setSingleShot(true);
    QObject::connect(&timeout, &QTimer::timeout, &loop, &QEventLoop::quit);

    QVector<double> ms;
    int lost = 0;
    for (int i = 0; i < presses; ++i) {
        const quint32 value = 0x5A000000u + quint32(i);
        QByteArray word(4, '\0');
        word[0] = char(value >> 24);
        word[1] = char(value >> 16);
        word[2] = char(value >> 8);
        word[3] = char(value);
        module.sim()->writeVme(2, 0x1000, word);
        expected = QStringLiteral("%1 \n").arg(value, 8, 16, QLatin1Char('0')).toUpper();
        if (gapMs > 0)
            spinUntil([] { return false; }, gapMs);
        shownAt = -1;
        clock.start();
        read->click();
        timeout.start(5000);
        if (shownAt < 0)
            loop.exec();
        timeout.stop();
        if (shownAt < 0) {
            ++lost;
            spinUntil([&] { return read->isEnabled() && tab->findChild<QWidget *>(QStringLiteral("groupRW"))->isEnabled(); },
                      5000);
            continue;
        }
        ms << shownAt / 1e6;
        // The group comes back in the same slot that shows the data.
        spinUntil([&] { return tab->findChild<QWidget *>(QStringLiteral("groupRW"))->isEnabled(); }, 5000);
    }
    std::sort(ms.begin(), ms.end());

    w.findChild<QPushButton *>(QStringLiteral("connect"))->click();
    spinUntil([&] { return w.statusBar()->currentMessage() == QLatin1String("disconnected"); }, 5000);
    module.stopSim();

    if (ms.isEmpty()) {
        std::fprintf(stderr, "no read was answered\n");
        return 2;
    }
    std::printf("window options: %s; %d presses of Read (one D32 item), %d ms between value shown and next press\n",
                windowOptions.isEmpty() ? "defaults (-s 40)" : windowOptions.constData(), presses, gapMs);
    std::printf("press to data shown: median %.1f ms, 95th percentile %.1f ms, min %.1f ms, max %.1f ms%s\n",
                percentile(ms, 0.5), percentile(ms, 0.95), ms.first(), ms.last(),
                lost ? qPrintable(QStringLiteral(", %1 NOT ANSWERED").arg(lost)) : "");
    return lost ? 2 : 0;
}
