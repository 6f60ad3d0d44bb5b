#pragma once

#include "simconfig.h"

#include <QString>
#include <QStringList>

// The command line of tarnix-sim.
namespace SimOptions {

enum class Outcome { Run, Help, Error };

// Parses the arguments (argv[0] first). On Help, *text is the usage; on Error, the message.
Outcome parse(const QStringList &arguments, SimConfig *config, QString *text);

} // namespace SimOptions
