#include "exposition.h"

#include <charconv>
#include <cmath>

const char Exposition::ContentType[] = "text/plain; version=0.0.4; charset=utf-8";

namespace {

QByteArray escaped(const QByteArray &text, bool quotes)
{
    QByteArray out;
    out.reserve(text.size());
    for (const char c : text) {
        if (c == '\\')
            out += "\\\\";
        else if (c == '\n')
            out += "\\n";
        else if (quotes && c == '"')
            out += "\\\"";
        else
            out += c;
    }
    return out;
}

} // namespace

QByteArray Exposition::escapeLabelValue(const QByteArray &value) { return escaped(value, true); }

QByteArray Exposition::escapeHelp(const QByteArray &help) { return escaped(help, false); }

void Exposition::family(const char *name, const char *type, const QByteArray &help)
{
    page += "# HELP ";
    page += name;
    page += ' ';
    page += escapeHelp(help);
    page += "\n# TYPE ";
    page += name;
    page += ' ';
    page += type;
    page += '\n';
}

void Exposition::beginSample(const char *name, const Labels &labels)
{
    page += name;
    if (!labels.isEmpty()) {
        page += '{';
        for (qsizetype i = 0; i < labels.size(); ++i) {
            if (i)
                page += ',';
            page += labels.at(i).first;
            page += "=\"";
            page += escapeLabelValue(labels.at(i).second);
            page += '"';
        }
        page += '}';
    }
    page += ' ';
}

void Exposition::sample(const char *name, const Labels &labels, quint64 value)
{
    beginSample(name, labels);
    char digits[24];
    const auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
    page.append(digits, end - digits);
    page += '\n';
}

void Exposition::sample(const char *name, const Labels &labels, double value)
{
    beginSample(name, labels);
    if (std::isnan(value)) {
        page += "NaN";
    } else if (std::isinf(value)) {
        page += value > 0 ? "+Inf" : "-Inf";
    } else {
        // Shortest text that reads back as the same double; to_chars never looks at the locale.
        char digits[32];
        const auto end = std::to_chars(digits, digits + sizeof digits, value).ptr;
        page.append(digits, end - digits);
    }
    page += '\n';
}
