#pragma once
// The software module and the window's command line, as the end-to-end benchmarks set them up.

#include "tarnixsim.h"

#include <QByteArray>
#include <QList>
#include <QVector>

#include <cstdio>

// Starts the module on free ports of 127.0.0.1; says why on standard error when it cannot.
inline bool startModule(TarnixSimThread &module)
{
    SimConfig config;
    config.tcpPort = 0;
    config.udpPort = 0;
    if (module.startSim(config))
        return true;
    std::fprintf(stderr, "module: %s\n", qPrintable(module.errorString()));
    return false;
}

// The window's command line as argc/argv, built from words (the program name first).
struct WindowArgs
{
    QList<QByteArray> words;
    QVector<char *> argv;
    explicit WindowArgs(const QList<QByteArray> &w) : words(w)
    {
        for (QByteArray &b : words)
            argv << b.data();
        argv << nullptr;
    }
    int argc() const { return int(words.size()); }
};
