#include "yamlmapping.h"

namespace YamlMapping {

void refuse(const YAML::Mark &mark, const QString &message)
{
    throw Refusal{mark, message};
}

QString fromStd(const std::string &s)
{
    return QString::fromUtf8(s.data(), qsizetype(s.size()));
}

Entries entriesOf(const YAML::Node &node, const YAML::Mark &where, const QStringList &allowed, const QString &what)
{
    if (!node.IsMap())
        refuse(node.Mark().line >= 0 ? node.Mark() : where,
               QStringLiteral("%1 is a mapping of %2").arg(what, allowed.join(QStringLiteral(", "))));
    Entries entries;
    for (auto it = node.begin(); it != node.end(); ++it) {
        const YAML::Node key = it->first;
        const QString name = key.IsScalar() ? fromStd(key.Scalar()) : QString();
        if (!allowed.contains(name))
            refuse(key.Mark(), QStringLiteral("unknown key \"%1\" in %2; known: %3")
                                   .arg(name, what, allowed.join(QStringLiteral(", "))));
        if (entries.contains(name))
            refuse(key.Mark(), QStringLiteral("\"%1\" is given twice").arg(name));
        entries.insert(name, Entry{key, it->second});
    }
    return entries;
}

QString scalarOf(const Entry &entry, const QString &name)
{
    if (entry.value.IsNull())
        return QString();
    if (!entry.value.IsScalar())
        refuse(entry.mark(), QStringLiteral("\"%1\" takes a single value").arg(name));
    return fromStd(entry.value.Scalar());
}

QString folded(const QString &text)
{
    QString out;
    for (const QChar c : text) {
        if (c.isLetterOrNumber())
            out += c.toLower();
    }
    return out;
}

int matchChoice(const QString &text, const QStringList &choices)
{
    const int exact = int(choices.indexOf(text));
    if (exact >= 0)
        return exact;
    const QString key = folded(text);
    int found = -1;
    for (int i = 0; i < choices.size(); ++i) {
        if (!key.isEmpty() && folded(choices.at(i)) == key) {
            if (found >= 0)
                return -1;
            found = i;
        }
    }
    return found;
}

void refuseChoice(const YAML::Mark &mark, const QString &name, const QString &value, const QStringList &choices)
{
    refuse(mark, QStringLiteral("%1 \"%2\": one of %3").arg(name, value, choices.join(QStringLiteral(", "))));
}

int choiceOf(const Entry &entry, const QString &name, const QStringList &choices)
{
    const QString value = scalarOf(entry, name);
    const int index = matchChoice(value, choices);
    if (index < 0)
        refuseChoice(entry.mark(), name, value, choices);
    return index;
}

} // namespace YamlMapping
