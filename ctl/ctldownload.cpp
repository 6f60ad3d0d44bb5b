// download: a program file as the window saves it, written into the module as the window's
// download writes it. The file is read and checked whole before the first write.
#include "ctlcommands.h"
#include "ctlprogram.h"
#include "ctlrbcp.h"

#include "download.h"

#include <cstdio>

namespace Ctl {

int downloadCommand(const Options &o)
{
    if (o.args.size() != 1)
        return fail(BadUsage, QStringLiteral("download: give one FILE"));
    const QString name = o.args.at(0);
    QByteArray bytes;
    QString failure;
    if (!readProgramFile(name, bytes, failure))
        return fail(BadUsage, failure);
    DownloadPlan plan;
    if (!DownloadPlan::fromProgramFile(bytes, name, plan, failure))
        return fail(BadUsage, failure);

    // The module runs nothing while its memory is written and checked: the mask goes last,
    // and only after every other byte read back as written when --verify asks for it.
    return rbcpJob(o, [&](QUdpThread &udp) {
        const QString failure = plan.run(udp, o.verify);
        if (!failure.isEmpty())
            return fail(Refused, failure);
        if (o.verify)
            std::printf("verified %lld bytes\n", static_cast<long long>(plan.bytes()));
        return int(Success);
    });
}

} // namespace Ctl
