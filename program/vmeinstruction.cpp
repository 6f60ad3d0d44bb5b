#include "vmeinstruction.h"
