#pragma once

#include <QByteArray>
#include <QPointer>
#include <QString>
#include <QWidget>

class ProgramHost;
class QTcpThread;
class Ui_TarnixCmdForm;

// The "Interactive Mode" tab: one VME read or write at a time over the TCP command channel,
// and the data that came back as a hex dump that can be edited, saved and loaded.
//
// Only one command is outstanding: the "Read / Write" group stays disabled from the moment a
// command is queued until the response with its ID arrives (or the next connection comes up).
// The data text is both the display and the source of a write, so getData reads it back with
// the layout flags it was laid out with.
class TarnixCmdForm : public QWidget
{
    Q_OBJECT
public:
    // Largest data file that is loaded: laying out a megabyte already keeps the window busy for
    // about a third of a second, and a command carries at most 255 bytes.
    static constexpr qint64 MaxFileBytes = 1024 * 1024;

    explicit TarnixCmdForm(QWidget *parent = nullptr);
    ~TarnixCmdForm() override;

    // The window that owns the tab: it answers which IDs belong to interactive commands.
    virtual void setMainWindow(ProgramHost *w);
    // The worker of the current connection; commands go there.
    virtual void setTcp(QTcpThread *t);
    // Also enables the "Read / Write" group, which a lost response may have left disabled.
    virtual void setAddressMode(int i);
    virtual void setAccessMode(int i);
    virtual void setDataMode(int i);
    // A response of the module; only the one answering the last command is taken.
    virtual void received(quint8 id, quint16 mode, const QByteArray &data);
    virtual void setID(quint8 id);
    // The next ID of the interactive range, advancing the candidate.
    virtual quint8 getID();
    // Checks the fields and queues one read or write.
    virtual void setCmd(bool read);
    // The bytes of the data text, read with the flags of its last layout.
    virtual void getData(QByteArray &out);
    // Lays data out into the data text with the current display options.
    virtual void dumpData(const QByteArray &data);
    virtual void dumpEchoData(const QByteArray &source, const QByteArray &echo);
    virtual void dumpBytes(QString &text, const QByteArray &data, int start, int column);
    virtual void dumpD8(QString &text, const QByteArray &data, int start, int count);
    virtual void dumpD16(QString &text, const QByteArray &data, int start, int count);
    virtual void dumpD32(QString &text, const QByteArray &data, int start, int count);

    // What the tab holds, for the window and for tests.
    QByteArray sourceData() const { return srcData; }
    QByteArray echoedData() const { return echoData; }
    quint8 lastCommandID() const { return cmdID; }

private slots:
    void on_readButton_clicked();
    void on_writeButton_clicked();
    void on_open_clicked();
    void on_save_clicked();
    void changeDisplay();
    void on_echoCheck_toggled(bool checked);

private:
    void refuse(const QString &text);

    Ui_TarnixCmdForm *ui;
    ProgramHost *mainWindow = nullptr;
    // Guarded: the window destroys the worker when a connection ends.
    QPointer<QTcpThread> tcp;
    quint8 nextID = 0;
    quint8 cmdID = 0;
    QString fileName;
    QByteArray srcData;
    QByteArray echoData;
    quint32 startAddress = 0;
    int dataWidth = 0;
    bool showAddress = false;
    bool showEcho = false;
    bool readCmd = false;
    bool echoWrite = false;
    bool rawAddress = true;
};
