#pragma once

#include <QByteArray>
#include <QWidget>

class MainWindow;
class QTcpThread;

// The "Interactive Mode" tab: single VME reads and writes.
class TarnixCmdForm : public QWidget
{
    Q_OBJECT
public:
    explicit TarnixCmdForm(QWidget *parent = nullptr);

    void setMainWindow(MainWindow *w) { mainWindow = w; }
    void setTcp(QTcpThread *t) { tcp = t; }
    void setDataMode(int) {}
    void setAddressMode(int) {}
    void setAccessMode(int) {}
    void setID(quint8 id) { nextId = id; }
    quint8 getID() const { return nextId; }
    void received(quint8 id, quint16 mode, const QByteArray &data);

private:
    MainWindow *mainWindow = nullptr;
    QTcpThread *tcp = nullptr;
    quint8 nextId = 128;
};
