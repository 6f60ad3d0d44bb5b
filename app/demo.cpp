// Headless demonstration: drives the real window (offscreen) against a running tarnix-sim and
// prints what an operator would see. Used by scripts/run.sh where there is no display, and by
// scripts/screenshot.sh for the README's picture.
#include "editdialog.h"
#include "mainwindow.h"
#include "tarnixcmd.h"
#include "tcpthread.h"
#include "vmeprogram.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QCommandLineParser>
#include <QGroupBox>
#include <QDeadlineTimer>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStatusBar>
#include <QTabWidget>
#include <QTextEdit>
#include <QTextStream>
#include <QThread>

#include <functional>

namespace {

QTextStream out(stdout);

bool waitUntil(const std::function<bool()> &done, int ms)
{
    QDeadlineTimer deadline(ms);
    while (!done()) {
        if (deadline.hasExpired())
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(5);
    }
    return true;
}

int fail(const QString &text)
{
    out << "tarnix2-demo: " << text << Qt::endl;
    return 1;
}

template <typename T> T *child(QObject *parent, const char *name)
{
    return parent->findChild<T *>(QLatin1String(name));
}

bool savePicture(QWidget &w, const QString &file)
{
    waitUntil([] { return false; }, 200); // let the window lay itself out
    if (!w.grab().save(file))
        return false;
    out << "window picture saved to " << file << Qt::endl;
    return true;
}

// The program editor showing a polling program of three instructions: every 250 ms at level 3,
// read a D32 status word, write two D16 words with echo, write one byte without echo.
bool saveEditorPicture(MainWindow &w, const QString &file)
{
    VmeProgram program;
    program.number = 0;
    program.level = 3;
    VmeProgram::toByteArray(250000u, program.data);
    int count = 3;
    VmeProgram parsed(QByteArray::fromHex("00001000" "0a00" "01" "04"
                                          "00200010" "c560" "02" "04" "0012abcd"
                                          "0000ff01" "a100" "03" "01" "7f"),
                      count, 0, &w);
    program.instructions.swap(parsed.instructions);
    EditDialog dialog(&w, &w);
    dialog.setProgram(&program);
    dialog.resize(1090, 420); // wide enough for every column
    dialog.show();
    return savePicture(dialog, file);
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QApplication::setStyle(QStringLiteral("Fusion"));
    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral("Drives the utility's window offscreen against tarnix-sim."));
    parser.addHelpOption();
    const QCommandLineOption tcpPort(QStringLiteral("tcp-port"), QStringLiteral("Module's TCP port."),
                                     QStringLiteral("port"), QStringLiteral("24"));
    const QCommandLineOption udpPort(QStringLiteral("udp-port"), QStringLiteral("Module's UDP (RBCP) port."),
                                     QStringLiteral("port"), QStringLiteral("4660"));
    const QCommandLineOption shot(QStringLiteral("screenshot"),
                                  QStringLiteral("Save a picture of the window showing the Interactive Mode tab."),
                                  QStringLiteral("file"));
    const QCommandLineOption settingsShot(QStringLiteral("settings-screenshot"),
                                          QStringLiteral("Save a picture of the General tab with the module's settings."),
                                          QStringLiteral("file"));
    const QCommandLineOption editorShot(QStringLiteral("editor-screenshot"),
                                        QStringLiteral("Save a picture of the program editor with a polling program."),
                                        QStringLiteral("file"));
    parser.addOptions({tcpPort, udpPort, shot, settingsShot, editorShot});
    parser.process(app);

    QByteArray prog("tarnix2-utility"), a("-a"), addr("127.0.0.1");
    char *args[] = {prog.data(), a.data(), addr.data(), nullptr};
    MainWindow w(3, args);
    w.findChild<QLineEdit *>(QStringLiteral("tcp"))->setText(parser.value(tcpPort));
    w.findChild<QLineEdit *>(QStringLiteral("udp"))->setText(parser.value(udpPort));
    w.show();
    if (parser.isSet(editorShot) && !saveEditorPicture(w, parser.value(editorShot)))
        return fail(QStringLiteral("cannot write %1").arg(parser.value(editorShot)));

    // The General tab's Read: the module's network settings and logic version over RBCP.
    out << "tarnix2-demo: reading the module's settings over RBCP at 127.0.0.1, UDP port " << parser.value(udpPort)
        << Qt::endl;
    auto *readSettings = child<QPushButton>(&w, "read");
    readSettings->click();
    if (!waitUntil([&] { return readSettings->isEnabled(); }, 15000) ||
        child<QTextEdit>(&w, "textEdit")->toPlainText().isEmpty())
        return fail(QStringLiteral("the module's settings could not be read"));
    out << "General tab, module settings:\n" << child<QTextEdit>(&w, "textEdit")->toPlainText() << Qt::endl;
    if (parser.isSet(settingsShot) && !savePicture(w, parser.value(settingsShot)))
        return fail(QStringLiteral("cannot write %1").arg(parser.value(settingsShot)));

    out << "tarnix2-demo: connecting to the module at 127.0.0.1, TCP port " << parser.value(tcpPort) << Qt::endl;
    w.findChild<QPushButton *>(QStringLiteral("connect"))->click();
    if (!waitUntil([&] { return w.statusBar()->currentMessage() == QLatin1String("connected"); }, 5000))
        return fail(QStringLiteral("no connection (status: \"%1\")").arg(w.statusBar()->currentMessage()));
    out << "status bar: " << w.statusBar()->currentMessage() << Qt::endl;

    // A write with echo and a read back of one D32 item at A32 0x00001000. The IDs lie outside
    // the interactive range, so both answers appear in the received-data log as the module sends them.
    auto *write = new TarnixCmd;
    write->address = 0x1000;
    write->length = 4;
    write->mode = 0xCA00; // Write(Echo), D32, A32, User Data
    write->id = 0x10;
    write->data = QByteArray::fromHex("deadbeef");
    auto *read = new TarnixCmd;
    read->address = 0x1000;
    read->length = 4;
    read->mode = 0x0A00; // Read, D32, A32, User Data
    read->id = 0x11;
    out << "sending: write D32 0xDEADBEEF to A32 0x00001000 with echo (ID 0x10), then read it back (ID 0x11)"
        << Qt::endl;
    w.tcpThread()->setCmd(write);
    w.tcpThread()->setCmd(read);

    auto *log = w.findChild<QPlainTextEdit *>(QStringLiteral("log"));
    if (!waitUntil([&] { return log->toPlainText().contains(QLatin1String("ID : 0x11")); }, 5000))
        return fail(QStringLiteral("the module did not answer"));
    out << "received-data log:\n" << log->toPlainText() << Qt::endl;

    // The Interactive Mode tab as an operator uses it: four D32 items written to A32 0x00001000
    // with the echo shown, then read back with their addresses.
    auto *tabs = w.findChild<QTabWidget *>(QStringLiteral("tabWidget"));
    tabs->setCurrentIndex(3);
    child<QComboBox>(&w, "adrm")->setCurrentIndex(2); // A32
    child<QComboBox>(&w, "datm")->setCurrentIndex(2); // D32
    child<QLineEdit>(&w, "addrEdit")->setText(QStringLiteral("0x2000"));
    child<QLineEdit>(&w, "lenEdit")->setText(QStringLiteral("4"));
    auto *data = child<QTextEdit>(&w, "dataText");
    data->setPlainText(QStringLiteral("DEADBEEF 00000001 CAFEF00D 12345678"));
    auto *group = child<QGroupBox>(&w, "groupRW");
    auto *echo = child<QCheckBox>(&w, "echoCheck");
    auto *showEcho = child<QCheckBox>(&w, "dispEcho");
    auto *showAddress = child<QCheckBox>(&w, "dispAdr");
    if (!echo->isChecked())
        echo->click();
    if (!showEcho->isChecked())
        showEcho->click();
    out << "Interactive Mode: write DEADBEEF 00000001 CAFEF00D 12345678 (D32) to A32 0x00002000 with echo"
        << Qt::endl;
    child<QPushButton>(&w, "writeButton")->click();
    if (!waitUntil([&] { return group->isEnabled(); }, 5000))
        return fail(QStringLiteral("the write was not answered"));
    out << "data shown:\n" << data->toPlainText() << Qt::endl;
    if (showEcho->isChecked())
        showEcho->click();
    if (!showAddress->isChecked())
        showAddress->click();
    out << "Interactive Mode: read 4 D32 items from A32 0x00002000" << Qt::endl;
    child<QPushButton>(&w, "readButton")->click();
    if (!waitUntil([&] { return group->isEnabled(); }, 5000))
        return fail(QStringLiteral("the read was not answered"));
    out << "data shown:\n" << data->toPlainText() << Qt::endl;
    if (parser.isSet(shot) && !savePicture(w, parser.value(shot)))
        return fail(QStringLiteral("cannot write %1").arg(parser.value(shot)));

    w.findChild<QPushButton *>(QStringLiteral("connect"))->click();
    waitUntil([&] { return w.statusBar()->currentMessage() == QLatin1String("disconnected"); }, 5000);
    out << "status bar: " << w.statusBar()->currentMessage() << Qt::endl;
    return 0;
}
