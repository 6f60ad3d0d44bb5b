#pragma once

#include "ctlcommands.h"
#include "udpthread.h"

#include <QHostAddress>

namespace Ctl {

// Runs job(QUdpThread&) on this thread with the RBCP client the General tab's worker uses,
// turning its thrown failures into messages and exit status.
template <typename F>
int rbcpJob(const Options &o, F job)
{
    QUdpThread udp;
    udp.SetIpAddress(QHostAddress(o.target), o.udpPort);
    udp.SetAttemptTime(o.timeoutMs);
    if (!udp.startUDP())
        return fail(NoAnswer, QStringLiteral("cannot open the RBCP socket for %1").arg(o.target));
    try {
        return job(udp);
    } catch (QRbcp::ErrSts code) {
        udp.strError(code);
        return fail(code == QRbcp::BusError ? Refused : NoAnswer, udp.errorLine());
    } catch (const QString &text) {
        return fail(Refused, text);
    }
}

} // namespace Ctl
