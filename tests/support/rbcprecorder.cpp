#include "rbcprecorder.h"

#include "udpthread.h"

void RbcpRecorder::watch(QUdpThread *worker)
{
    connect(worker, &QRbcp::closed, this, [this](bool ok) { events << QStringLiteral("closed:%1").arg(ok); });
    connect(worker, &QUdpThread::setFlg, this, [this] { events << QStringLiteral("setFlg"); });
}
