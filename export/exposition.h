#pragma once

#include <QByteArray>
#include <QList>
#include <QPair>

// A page of metrics in the text format that Prometheus scrapes: families (HELP and TYPE lines)
// and their samples. Label values and help texts are escaped; numbers are written in the "C"
// form (a dot, never a comma) whatever the process's locale, as the scraper only reads that.
class Exposition
{
public:
    // What newer Prometheus servers insist on; a bare text/plain is refused by some.
    static const char ContentType[];

    using Labels = QList<QPair<QByteArray, QByteArray>>; // name, value (UTF-8, unescaped)

    void family(const char *name, const char *type, const QByteArray &help);
    void sample(const char *name, const Labels &labels, quint64 value);
    void sample(const char *name, const Labels &labels, double value);
    void sample(const char *name, quint64 value) { sample(name, Labels(), value); }
    void sample(const char *name, double value) { sample(name, Labels(), value); }

    const QByteArray &text() const { return page; }
    QByteArray take() { return std::move(page); }

    static QByteArray escapeLabelValue(const QByteArray &value);
    static QByteArray escapeHelp(const QByteArray &help);

private:
    void beginSample(const char *name, const Labels &labels);

    QByteArray page;
};
