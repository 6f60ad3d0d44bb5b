// The command client's read round trip against a module that is already running (the same
// tarnix-sim the Python benchmark talks to): N D32 reads of one item on one connection through
// the VME access the Python module uses, median and 95th percentile.
//  bench_readpeer PORT [reads]
#include "commandclient.h"
#include "vmeaccess.h"

#include <QCoreApplication>
#include <QElapsedTimer>

#include <algorithm>
#include <cstdio>
#include <vector>

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    if (argc < 2)
        return 2;
    const quint16 port = quint16(std::atoi(argv[1]));
    const int reads = argc > 2 ? std::atoi(argv[2]) : 1000;
    CommandClient client(3000);
    if (!client.connectTo(QStringLiteral("127.0.0.1"), port))
        return 1;
    CommandIdRange ids;
    VmeAccess::Request r;
    r.address = 0x1000;
    std::vector<double> us;
    for (int i = 0; i < reads; ++i) {
        QElapsedTimer t;
        t.start();
        if (!VmeAccess::run(client, ids, r, {}).done())
            return 1;
        us.push_back(t.nsecsElapsed() / 1000.0);
    }
    std::sort(us.begin(), us.end());
    std::printf("median %.1f us, 95th percentile %.1f us\n", us[us.size() / 2], us[us.size() * 95 / 100]);
    return 0;
}
