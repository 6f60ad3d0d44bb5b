#pragma once

#include <QString>
#include <QWidget>

#include "udpthread.h"
namespace Ui {
class GeneralForm;
}

// The "General" tab: the module's address and ports, the TCP connect button, the default
// access modes, the interactive ID range, and the module's network settings over RBCP.
class GeneralForm : public QWidget
{
    Q_OBJECT
public:
    explicit GeneralForm(QWidget *parent = nullptr);
    ~GeneralForm() override;

    int readWrite() const;
    int dataMode() const;
    int accessMode() const;
    int addressMode() const;
    int minID() const;
    int maxID() const;

    void setDefault(const QByteArray &defaults);
    void setConnect(bool offer);
    void setEnabledConnect(bool on);
    void setParam(int argc, char **argv);

    // The tuning values of the command line.
    int logSize = 512;
    int readBufferSize = 8;
    int readRequestSize = 1024;
    int sleepTime = 40;

    Ui::GeneralForm *form() const { return ui; }
    QUdpThread *worker() const { return udpThread; }
    // Reply wait (100 ms slices) and retries for the RBCP workers this tab creates from now on;
    // zero keeps the client's own defaults.
    void setRbcpTiming(int waitSlices, int retries);
    // While the main window downloads on the lent worker (its runs and the wait between them),
    // Read and Write do nothing.
    void setDownloadRunning(bool running) { downloadRunning = running; }

signals:
    void connectTcp(QString addr, quint16 port);
    void disconnectTCP();
    void setUdp(QUdpThread *udp);
    void setTabEnabled(bool on);
    void displayUdpError(QString *text);

public slots:
    void on_connect_clicked();
    void on_minID_editingFinished();
    void on_maxID_editingFinished();
    void on_read_clicked();
    void on_write_clicked();
    void displayInfo(QString *text);
    void displayError(QString *text);
    void displayTcp(quint16 port);

private:
    void warn(const QString &text);
    QUdpThread *newWorker();
    void setJobRunning();

    Ui::GeneralForm *ui;
    QUdpThread *udpThread = nullptr;
    QString targetAddress;
    bool offerConnect = true;
    int rbcpWaitSlices = 0;
    int rbcpRetries = 0;
    bool downloadRunning = false;
};
