#pragma once

#include "modulememory.h"
#include "programbook.h"
#include "programhost.h"
#include "histogram.h"
#include "reportrates.h"

#include <QColor>
#include <QList>
#include <QMainWindow>
#include <QString>
#include <QTimer>

class QTcpThread;
#include "udpthread.h"
class OperationStatus;
class ExportSettings;
class ReportRecorder;
class StreamTap;
class RatesTab;
class RecordControl;
struct RunHeader;
class HistogramsTab;
class QCloseEvent;
class QFile;
class QAction;
class QPushButton;
class WindowSequence;
class VmeProgram;
namespace Ui {
class MainWindow;
}

class MainWindow : public QMainWindow, public ProgramHost
{
    Q_OBJECT
public:
    MainWindow(int argc, char **argv, QWidget *parent = nullptr);
    ~MainWindow() override;

    // Current indices of the General tab's default combo boxes.
    int addressMode() override;
    int accessMode() override;
    int dataMode() override;
    int readWrite() override;

    // True when id lies outside the interactive ID range; the range ends are stored when asked.
    bool checkInteractiveID(unsigned char id, unsigned char *min, unsigned char *max) override;

    // Program IDs and vectors in use by the program table.
    bool checkID(unsigned char id) override;
    bool getFreeID(unsigned char &id) override;
    bool setID(unsigned char id, bool used) override;
    bool checkVectorID(int number) override;
    bool pollingPresent() override { return book.pollingPresent(); }
    void setPollingPresent(bool present) override { book.setPollingPresent(present); }

    // The program table (the programs are owned, in table order).
    using QObject::setProperty;
    bool add(int number);
    void edit(int row);
    void setProgram(VmeProgram *program);
    void prgRemove(int row, const QString &name);
    void setInfo(VmeProgram *program, int row);
    void setItem(int row, int column, QString &text, int alignment);
    void setProperty(int row, QString text, bool reset);
    void setCellActEnabled(bool on);
    void clear();
    void addVector(VmeProgram *program) { book.addVector(program); }
    void removeVector(VmeProgram *program) { book.removeVector(program); }
    const QList<VmeProgram *> &programList() const { return programs; }

    // The event table's check boxes: row 0 polling, row L interrupt level L.
    bool checkEvent(int row);
    int checkEvent();
    void setEvent(unsigned char mask);
    void setEvent(int row, bool on);

    // The last layout: what a download writes or a program file stores.
    const ModuleMemory &moduleMemory() const { return memory; }
    bool downloadRunning() const { return phase != DownloadIdle; }

    bool isModified() const { return modified; }
    void setModified(bool on) { modified = on; }
    QTcpThread *tcpThread() const { return tcp; }
    // A set-up sequence run through the window's connection and RBCP worker (the Interactive
    // Mode tab's "Run sequence..."); false, after the message, when the file is refused.
    bool runSequence(const QString &fileName);
    bool sequenceRunning() const { return sequence != nullptr; }
    int maxLogBlocks() const { return logBlocks; }
    int tcpReadBufferKB() const { return readBufferKB; }
    // Runs: the Received Log tab's Record and Replay, and what a run's header says of the window.
    RecordControl *recordControl() const { return recorder; }
    HistogramSet &histogramSet() { return histograms; }
    RunHeader runHeader();

public slots:
    void on_add_clicked();
    void on_edit_clicked();
    void on_del_clicked();
    void edit();
    void del();
    void on_tableWidget_cellClicked(int row, int column);
    void propertyEdit();
    void connectTcp(QString addr, quint16 port);
    void disconnectTCP();
    void startTcp();
    void stopped();
    void received(quint8 id, quint16 mode, QByteArray *buf);
    void displayError(QString *text);
    void displayUdpError(QString *text);
    void setUdp(QUdpThread *p);
    void setTabEnabled(bool on);
    void on_download_clicked();
    void download();
    void downloadEnd(bool on);
    void on_fsave_clicked();
    void on_fopen_clicked();
    void on_clear_clicked();
    void on_saveLog_clicked();
    void appendLog(QString *log);

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void setupSequence();
    void lockForSequence(bool locked);
    WindowSequence *sequence = nullptr;
    QPushButton *runSequenceButton = nullptr;
    QPushButton *stopSequenceButton = nullptr;
    QList<QWidget *> sequenceLocked;

    enum DownloadPhase { DownloadIdle, DownloadStopping, DownloadWriting };

    void setLogBase(const QColor &color);
    void readVersionFile();
    void setupProgramPage();
    // Runs the program editor on program; true when the operator accepted it.
    bool runEditor(VmeProgram *program);
    // Marks the table rows that have warnings (colour and tooltip) and lists them all on the
    // Download button's tooltip (downloadTip when there are none).
    void showWarnings(const QString &downloadTip);
    // Lays the programs into memory and inserts what the layout adds; false (after the
    // warning) when the layout was refused.
    bool layPrograms();
    void endDownload(bool ok);
    // From Download's click until the download ends, what would change the table, the layout
    // or the event mask is disabled: the module is to run what the window shows.
    void lockPrograms(bool locked);
    // Program files: exactly n bytes of file into bytes, or throws the read failure text.
    void dataRead(QFile &file, QByteArray &bytes, int n);
    // Rebuilds the table from memory; false, with the table as it was and the name of the
    // program that cannot be read, when the memory holds one.
    bool loadProgram(QString *refused = nullptr);
    // What an RBCP failure during a download means for the module; empty otherwise.
    QString downloadFailureNote() const;

    Ui::MainWindow *ui;
    QTcpThread *tcp = nullptr;
    QUdpThread *udp = nullptr;
    QColor savedBase;
    int logBlocks = 512 * 1024;
    int readBufferKB = 8;
    bool modified = false;
    QList<VmeProgram *> programs;
    ProgramBook book;
    ModuleMemory memory;
    QString lastFile; // last program file opened or saved
    QAction *editAction = nullptr;
    QAction *delAction = nullptr;
    QAction *propertyAction = nullptr;

    // A download: the stop run, then the writes once that run has ended and the module had
    // its time to stop; the window never blocks in between.
    DownloadPhase phase = DownloadIdle;
    QList<ModuleMemory::Write> pendingWrites; // fixed at the click
    bool stopRunEnded = false;
    bool stopWaitOver = false;
    QTimer stopWait;

    // The status bar's report of the settings jobs and downloads.
    OperationStatus *operation = nullptr;
    bool settingsJob = false;

    // Report counts of every connection since the last Reset, and the tab that shows them.
    ReportRates rates;
    RatesTab *ratesTab = nullptr;

    RecordControl *recorder = nullptr;
    void setupRecordControl();
    QString connectedHost;
    quint16 connectedPort = 0;
    // Histograms of the reports' data, kept across connections until cleared; filled by the
    // command thread.
    HistogramSet histograms;
    HistogramsTab *histogramsTab = nullptr;
    // Metrics and the report stream for the lab's systems, on the Rates tab.
    ExportSettings *exportSettings = nullptr;
    // What the command thread hands every report to: the stream's tap while publishing, which
    // passes each report on to the run file's writer while a run is recorded too.
    StreamTap *reportTap = nullptr;
    ReportRecorder *runWriter = nullptr;
    void attachRecorders();
};
