#include "programhost.h"

ProgramHost::~ProgramHost() = default;
