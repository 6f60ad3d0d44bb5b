#pragma once

#include <QByteArray>
#include <QList>
#include <QVector>

// A command line given as words (the program name first), as argc/argv for code that parses one.
struct Args
{
    QList<QByteArray> words;
    QVector<char *> argv;
    explicit Args(const QList<QByteArray> &w) : words(w)
    {
        for (QByteArray &b : words)
            argv.append(b.data());
        argv.append(nullptr);
    }
    int argc() const { return int(words.size()); }
};
