// info and stop: the module's registers over RBCP.
#include "ctlrbcp.h"

namespace Ctl {

int infoCommand(const Options &o)
{
    if (!o.args.isEmpty())
        return fail(BadUsage, QStringLiteral("info takes no arguments"));
    return rbcpJob(o, [](QUdpThread &udp) {
        if (!udp.ReadInfoKelvo())
            return fail(NoAnswer, QStringLiteral("Unable to read Kelvo information"));
        if (!udp.readRegister())
            return fail(NoAnswer, QStringLiteral("Unable to read information from Register"));
        QString text;
        udp.GetInfoKelvo(&text);
        udp.getInfo(&text);
        say(text);
        return int(Success);
    });
}

int stopCommand(const Options &o)
{
    if (!o.args.isEmpty())
        return fail(BadUsage, QStringLiteral("stop takes no arguments"));
    return rbcpJob(o, [](QUdpThread &udp) {
        const char mask = 0;
        if (udp.write(QUdpThread::EventEnableAddress, &mask, 1) < 1)
            return fail(Refused, QStringLiteral("Write ERROR"));
        return int(Success);
    });
}

} // namespace Ctl
