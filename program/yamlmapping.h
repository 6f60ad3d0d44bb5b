#pragma once

// Reading the mappings of the operator's YAML texts (program texts, set-up sequences): keys
// checked against the ones allowed, single values, and choices written as the operator may
// write them. A refusal is thrown with the place in the text it is about; each reader turns it
// into its own message with its line and column.

#include <yaml-cpp/yaml.h>

#include <QHash>
#include <QString>
#include <QStringList>

#include <string>

namespace YamlMapping {

struct Refusal
{
    YAML::Mark mark;
    QString message;
};

[[noreturn]] void refuse(const YAML::Mark &mark, const QString &message);

QString fromStd(const std::string &s);

// One entry of a mapping: the key's and the value's node.
struct Entry
{
    YAML::Node key;
    YAML::Node value;
    // An empty value has no place of its own: its key stands for it.
    YAML::Mark mark() const { return value.IsNull() || value.Mark().line < 0 ? key.Mark() : value.Mark(); }
};
using Entries = QHash<QString, Entry>;

// The entries of a mapping, every key one of allowed and given once; what names the mapping in
// the messages ("a sequence", "\"defaults\"").
Entries entriesOf(const YAML::Node &node, const YAML::Mark &where, const QStringList &allowed, const QString &what);

// The text of a single value; an empty value is an empty text.
QString scalarOf(const Entry &entry, const QString &name);

// A choice's letters and digits only, in lower case: what choices are matched by.
QString folded(const QString &text);

// The index of the one choice text matches: exactly, or without regard to case, spaces and
// punctuation where only one choice folds alike ("user data", "UserData" and "User Data" are
// one choice); -1 when none does.
int matchChoice(const QString &text, const QStringList &choices);

// A choice, refused with the choices listed: data mode "d64": one of D8, D16, D32.
[[noreturn]] void refuseChoice(const YAML::Mark &mark, const QString &name, const QString &value,
                               const QStringList &choices);
int choiceOf(const Entry &entry, const QString &name, const QStringList &choices);

} // namespace YamlMapping
