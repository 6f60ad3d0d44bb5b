#pragma once

#include "ctlcommands.h"

#include <QByteArray>
#include <QString>

namespace Ctl {

// The help's part on program texts, for --help and the man page.
QString programTextHelp();

// program show FILE | program check FILE | program build TEXT -o FILE
int programCommand(const Options &o);

// The bytes of a binary program file, or of the binary file built from a program text (told
// apart by content). False with the message to show when the file cannot be read or the text
// is refused ("FILE:line:column: message"). With warn, the file's warnings go to standard
// error ("FILE:line:column: warning: message"); they refuse nothing.
bool readProgramFile(const QString &name, QByteArray &bytes, QString &failure, bool warn = true);

} // namespace Ctl
