// Headless demonstration: drives the real window (offscreen) against a running tarnix-sim and
// prints what an operator would see. Used by scripts/run.sh where there is no display, and by
// scripts/screenshot.sh for the README's picture.
#include "editdialog.h"
#include "histogramstab.h"
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
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QSpinBox>
#include <QStatusBar>
#include <QTableWidget>
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

bool savePicture(QWidget &w, const QString &file, int settleMs = 200)
{
    waitUntil([] { return false; }, settleMs); // let the window lay itself out
    if (!w.grab().save(file))
        return false;
    out << "window picture saved to " << file << Qt::endl;
    return true;
}

// One instruction: D32 at A32, User Data; a read, or a write of one item.
VmeInstruction *instruction(MainWindow &w, quint32 address, quint8 id, const QByteArray &write = QByteArray())
{
    auto *ins = new VmeInstruction;
    ins->address = address;
    ins->read = write.isEmpty();
    ins->dataMode = 2;
    ins->addressMode = 2;
    ins->length = 1;
    ins->data = write;
    ins->id = id;
    w.setID(id, true);
    return ins;
}

// An interrupt program for level: a read of one D32 item at address, then the acknowledge.
void addInterrupt(MainWindow &w, int level, quint32 address, quint8 id)
{
    auto *interrupt = new VmeProgram;
    interrupt->number = -level;
    interrupt->level = level;
    interrupt->instructions << instruction(w, address, id);
    auto *ack = new VmeInstruction;
    ack->address = quint32(2 * level);
    ack->noEcho = true;
    ack->dataMode = 2;
    ack->length = 1;
    ack->accessMode = VmeModeWord::IntrAccessIndex;
    ack->id = quint8(id + 1);
    w.setID(ack->id, true);
    interrupt->instructions << ack;
    w.setProgram(interrupt);
}

// The operator's programs: every 500 ms a polling read of A32 0x1000; on VME interrupt level 3
// a read of A32 0x2000 and the interrupt acknowledge; for vector 5 a read of A32 0x3000.
void composePrograms(MainWindow &w)
{
    auto *polling = new VmeProgram;
    polling->number = 0;
    polling->level = 1;
    VmeProgram::toByteArray(500000u, polling->data);
    polling->instructions << instruction(w, 0x1000, 0x20);
    w.setProgram(polling);
    w.setPollingPresent(true);

    addInterrupt(w, 3, 0x2000, 0x30);

    auto *vector = new VmeProgram;
    vector->number = 6;
    vector->vectorText = QStringLiteral("5");
    vector->data = QByteArray(1, 5);
    vector->instructions << instruction(w, 0x3000, 0x40);
    w.setProgram(vector);
    w.setEvent(0x09);
}

QString tableText(QTableWidget *table)
{
    QStringList rows;
    for (int r = 0; r < table->rowCount(); ++r) {
        const QTableWidgetItem *item = table->item(r, 0);
        rows << QStringLiteral("  %1%2").arg(item->data(Qt::CheckStateRole).isValid()
                                                 ? (item->checkState() == Qt::Checked ? QStringLiteral("[x] ")
                                                                                      : QStringLiteral("[ ] "))
                                                 : QString(),
                                             item->text());
    }
    return rows.join(QLatin1Char('\n'));
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

// The Histograms tab against a module that sends detector-like reports of its own (tarnix-sim
// --reports 0 --report-peak ...): a 1D spectrum of item 1, then item 1 against item 2 in 2D.
int histogramDemo(MainWindow &w, const QString &shot, const QString &shot2D, const QString &csv)
{
    w.findChild<QPushButton *>(QStringLiteral("connect"))->click();
    if (!waitUntil([&] { return w.statusBar()->currentMessage() == QLatin1String("connected"); }, 5000))
        return fail(QStringLiteral("no connection"));
    w.resize(1040, 680);
    auto *tabs = w.findChild<QTabWidget *>(QStringLiteral("tabWidget"));
    auto *tab = child<HistogramsTab>(&w, "tab_histograms");
    tabs->setCurrentWidget(tab);
    auto *source = child<QComboBox>(&w, "histSource");
    if (!waitUntil([&] { return source->count() > 0; }, 5000))
        return fail(QStringLiteral("no reports from the module (is tarnix-sim running with --reports 0?)"));
    const auto define = [&](int low, int width, bool twoD) {
        child<QSpinBox>(&w, "histItem")->setValue(1);
        child<QSpinBox>(&w, "histLow")->setValue(low);
        child<QSpinBox>(&w, "histWidth")->setValue(width);
        child<QCheckBox>(&w, "hist2D")->setChecked(twoD);
        child<QPushButton>(&w, "histAdd")->click();
    };
    define(0, 12, false);
    waitUntil([] { return false; }, 6000);
    out << "Histograms tab: " << child<QLabel>(&w, "histStatistics")->text() << Qt::endl;
    if (!shot.isEmpty() && !savePicture(w, shot))
        return fail(QStringLiteral("cannot write %1").arg(shot));
    QString error;
    if (!csv.isEmpty() && !tab->exportCsv(csv, &error))
        return fail(QStringLiteral("cannot write %1: %2").arg(csv, error));
    if (!shot2D.isEmpty()) {
        // Item 2 on the y axis, 8 bits of each (the top 8 of 12).
        child<QSpinBox>(&w, "histItem2")->setValue(2);
        child<QSpinBox>(&w, "histLow2")->setValue(4);
        child<QSpinBox>(&w, "histWidth2")->setValue(8);
        define(4, 8, true);
        waitUntil([] { return false; }, 6000);
        out << "Histograms tab, 2D: " << child<QLabel>(&w, "histStatistics")->text() << Qt::endl;
        if (!savePicture(w, shot2D))
            return fail(QStringLiteral("cannot write %1").arg(shot2D));
    }
    return 0;
}

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
    const QCommandLineOption programsShot(QStringLiteral("programs-screenshot"),
                                          QStringLiteral("Save a picture of the Program tab after the download."),
                                          QStringLiteral("file"));
    const QCommandLineOption editorShot(QStringLiteral("editor-screenshot"),
                                        QStringLiteral("Save a picture of the program editor with a polling program."),
                                        QStringLiteral("file"));
    const QCommandLineOption downloadShot(QStringLiteral("download-screenshot"),
                                          QStringLiteral("Save a picture of a download in progress (a module that "
                                                         "answers late gives the time to take it)."),
                                          QStringLiteral("file"));
    const QCommandLineOption ratesShot(QStringLiteral("rates-screenshot"),
                                       QStringLiteral("Save a picture of the Rates tab while the programs run."),
                                       QStringLiteral("file"));
    parser.addOptions({tcpPort, udpPort, shot, settingsShot, editorShot, programsShot, downloadShot, ratesShot});
    const QCommandLineOption histShot(QStringLiteral("histograms-screenshot"),
                                      QStringLiteral("Only the Histograms tab: save a picture of a 1D histogram."),
                                      QStringLiteral("file"));
    const QCommandLineOption hist2DShot(QStringLiteral("histograms2d-screenshot"),
                                        QStringLiteral("Only the Histograms tab: save a picture of a 2D histogram."),
                                        QStringLiteral("file"));
    const QCommandLineOption histCsv(QStringLiteral("histograms-csv"),
                                     QStringLiteral("Only the Histograms tab: export the 1D histogram as CSV."),
                                     QStringLiteral("file"));
    parser.addOptions({histShot, hist2DShot, histCsv});
    parser.process(app);

    QByteArray prog("tarnix2-utility"), a("-a"), addr("127.0.0.1");
    // The histograms are pictured at the module's rate: no pause between reads, large reads.
    QByteArray pause("-s"), pauseMs("0"), readSize("-r"), readBytes("65536");
    char *args[] = {prog.data(), a.data(), addr.data(), pause.data(), pauseMs.data(), readSize.data(), readBytes.data(), nullptr};
    const bool histogramsOnly = parser.isSet(histShot) || parser.isSet(hist2DShot) || parser.isSet(histCsv);
    MainWindow w(histogramsOnly ? 7 : 3, args);
    w.findChild<QLineEdit *>(QStringLiteral("tcp"))->setText(parser.value(tcpPort));
    w.findChild<QLineEdit *>(QStringLiteral("udp"))->setText(parser.value(udpPort));
    w.show();
    if (histogramsOnly)
        return histogramDemo(w, parser.value(histShot), parser.value(hist2DShot), parser.value(histCsv));
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

    // The Program tab: a polling program, an interrupt program and a vector program, downloaded
    // into the module's program memory over RBCP.
    auto *tabs = w.findChild<QTabWidget *>(QStringLiteral("tabWidget"));
    tabs->setCurrentIndex(1);
    composePrograms(w);
    out << "Program tab: polling every 500000 us (read A32 0x1000, ID 0x20); interrupt level 3 (read A32 0x2000, "
           "ID 0x30, then the interrupt acknowledge); vector 5 (read A32 0x3000, ID 0x40); Polling and Interrupt3 "
           "checked. Pressing Download."
        << Qt::endl;
    auto *download = child<QPushButton>(&w, "download");
    download->click();
    if (!waitUntil([&] { return download->isEnabled(); }, 15000))
        return fail(QStringLiteral("the download did not finish"));
    out << "program table after the download:\n" << tableText(child<QTableWidget>(&w, "tableWidget")) << Qt::endl;
    out << "event table:\n" << tableText(child<QTableWidget>(&w, "propertyWidget")) << Qt::endl;
    const ModuleMemory &memory = w.moduleMemory();
    out << "program memory image (" << memory.image.size() << " bytes at 2048): "
        << memory.image.toHex(' ').toUpper() << Qt::endl;
    if (parser.isSet(programsShot) && !savePicture(w, parser.value(programsShot)))
        return fail(QStringLiteral("cannot write %1").arg(parser.value(programsShot)));

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

    // The downloaded programs report by themselves: the polling read every 500 ms, and on each
    // level-3 interrupt (tarnix-sim raises it with vector 5 every second, option --irq 3:5:1000)
    // the interrupt program's read and acknowledge, then vector 5's program.
    out << "waiting for the programs' reports (polling ID 0x20; interrupt ID 0x30 and 0x31; vector 5 ID 0x40)"
        << Qt::endl;
    tabs->setCurrentIndex(2);
    const auto reported = [log](const char *id) { return int(log->toPlainText().count(QLatin1String(id))); };
    if (!waitUntil([&] { return reported("ID : 0x20") > 0 && reported("ID : 0x40") > 0; }, 5000))
        return fail(QStringLiteral("no reports from the downloaded programs (is tarnix-sim running with --irq 3:5:1000?)"));
    out << "received-data log with the programs' reports:\n" << log->toPlainText() << Qt::endl;
    out << "reports so far: polling " << reported("ID : 0x20") << ", interrupt " << reported("ID : 0x30")
        << ", vector 5 " << reported("ID : 0x40") << Qt::endl;

    // A second interrupt program, level 5, downloaded while the programs run; tarnix-sim raises
    // that level when started with --irq 5:V:period.
    out << "adding an interrupt program for level 5 (read A32 0x2800, ID 0x50, then the acknowledge); "
           "Polling, Interrupt3 and Interrupt5 checked. Pressing Download."
        << Qt::endl;
    tabs->setCurrentIndex(1);
    addInterrupt(w, 5, 0x2800, 0x50);
    w.setEvent(0x29);
    download->click();
    if (parser.isSet(downloadShot)) {
        auto *progress = child<QLabel>(&w, "operationText");
        auto *bar = child<QProgressBar>(&w, "operationProgress");
        if (!waitUntil([&] { return progress->text().contains(QLatin1String("Writing registers")) && bar->value() >= 400; },
                       15000) ||
            !savePicture(w, parser.value(downloadShot), 0))
            return fail(QStringLiteral("no picture of the download in progress"));
    }
    if (!waitUntil([&] { return download->isEnabled(); }, 15000))
        return fail(QStringLiteral("the download of the level 5 program did not finish"));
    out << "status bar: " << child<QLabel>(&w, "operationText")->text() << Qt::endl;
    tabs->setCurrentIndex(4);
    waitUntil([] { return false; }, parser.isSet(ratesShot) ? 20000 : 3000);
    QStringList sources;
    auto *rateTable = child<QTableWidget>(&w, "sources");
    for (int r = 0; r < rateTable->rowCount(); ++r)
        sources << QStringLiteral("  %1: %2 reports, %3/s").arg(rateTable->item(r, 0)->text(),
                                                                  rateTable->item(r, 1)->text(),
                                                                  rateTable->item(r, 2)->text());
    out << "Rates tab: " << child<QLabel>(&w, "totalReports")->text() << ", "
        << child<QLabel>(&w, "reportRate")->text() << "\n" << sources.join(QLatin1Char('\n')) << Qt::endl;
    if (parser.isSet(ratesShot) && !savePicture(w, parser.value(ratesShot)))
        return fail(QStringLiteral("cannot write %1").arg(parser.value(ratesShot)));

    // Every event unchecked and downloaded again: enable mask 0, the module's programs stop.
    tabs->setCurrentIndex(1);
    w.setEvent(0);
    download->click();
    if (!waitUntil([&] { return download->isEnabled(); }, 15000))
        return fail(QStringLiteral("the second download did not finish"));
    waitUntil([] { return false; }, 200); // what was already on its way
    const int before = reported("ID : ");
    waitUntil([] { return false; }, 1500);
    out << "after a download with no event checked (enable mask 0): " << reported("ID : ") - before
        << " reports in 1.5 s" << Qt::endl;

    w.findChild<QPushButton *>(QStringLiteral("connect"))->click();
    waitUntil([&] { return w.statusBar()->currentMessage() == QLatin1String("disconnected"); }, 5000);
    out << "status bar: " << w.statusBar()->currentMessage() << Qt::endl;
    return 0;
}
