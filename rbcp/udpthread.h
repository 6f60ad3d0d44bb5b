#pragma once

#include <QThread>

// Runs one RBCP job per start, off the window's thread.
class QUdpThread : public QThread
{
    Q_OBJECT
public:
    using QThread::QThread;
};
