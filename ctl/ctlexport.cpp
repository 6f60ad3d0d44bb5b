// --metrics and --publish of listen: the metrics server and the report stream, and what they
// tell the operator.
#include "ctlcommands.h"

#include "readoutexport.h"

#include <cstdio>

namespace Ctl {

int startExport(const Options &o, ReadoutExport &out)
{
    out.setModule(o.target, o.tcpPort);
    QString error;
    if (!o.metrics.isEmpty()) {
        if (!out.serveMetrics(o.metricsAddress, o.metricsPort, error))
            return fail(BadUsage, error);
        // On standard error, so that the reports' text alone goes to standard output.
        std::fprintf(stderr, "tarnixctl: metrics at %s\n", out.metricsUrl().toLocal8Bit().constData());
    }
    if (!o.publish.isEmpty()) {
        if (!out.publish(o.publish, o.publishHighWaterMark, error))
            return fail(BadUsage, error);
        std::fprintf(stderr, "tarnixctl: publishing reports on %s\n",
                     out.publishEndpoint().toLocal8Bit().constData());
    }
    std::fflush(stderr);
    return Success;
}

void exportSummary(const ReadoutExport &out)
{
    if (!out.publishing())
        return;
    const ReportPublisher &s = out.stream();
    std::fprintf(stderr, "tarnixctl: published %llu messages (%llu bytes), %llu dropped\n",
                 static_cast<unsigned long long>(s.sent()), static_cast<unsigned long long>(s.sentBytes()),
                 static_cast<unsigned long long>(s.dropped()));
}

} // namespace Ctl
