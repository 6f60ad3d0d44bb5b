#include "udpthread.h"
