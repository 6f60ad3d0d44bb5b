#pragma once

#include "programhost.h"

#include <QColor>
#include <QMainWindow>
#include <QSet>
#include <QString>

class QTcpThread;
#include "udpthread.h"
class QCloseEvent;
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
    bool pollingPresent() override { return polling; }
    void setPollingPresent(bool present) override { polling = present; }

    bool isModified() const { return modified; }
    void setModified(bool on) { modified = on; }
    QTcpThread *tcpThread() const { return tcp; }
    int maxLogBlocks() const { return logBlocks; }
    int tcpReadBufferKB() const { return readBufferKB; }

public slots:
    void on_add_clicked() {}
    void on_edit_clicked() {}
    void on_del_clicked() {}
    void edit() {}
    void del() {}
    void on_tableWidget_cellClicked(int, int) {}
    void propertyEdit() {}
    void connectTcp(QString addr, quint16 port);
    void disconnectTCP();
    void startTcp();
    void stopped();
    void received(quint8 id, quint16 mode, QByteArray *buf);
    void displayError(QString *text);
    void displayUdpError(QString *text);
    void setUdp(QUdpThread *p);
    void setTabEnabled(bool on);
    void on_download_clicked() {}
    void download() {}
    void downloadEnd(bool on);
    void on_fsave_clicked() {}
    void on_fopen_clicked() {}
    void on_clear_clicked();
    void on_saveLog_clicked();
    void appendLog(QString *log);

protected:
    void closeEvent(QCloseEvent *event) override;

private:
    void setLogBase(const QColor &color);
    void readVersionFile();

    Ui::MainWindow *ui;
    QTcpThread *tcp = nullptr;
    QUdpThread *udp = nullptr;
    QColor savedBase;
    int logBlocks = 512 * 1024;
    int readBufferKB = 8;
    bool modified = false;
    QSet<quint8> usedIDs;
    QSet<quint8> usedVectors;
    quint8 nextFreeID = 0;
    bool polling = false;
};
