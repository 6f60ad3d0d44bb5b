#pragma once

#include "modeword.h"

// One VME access instruction of a program: its mode fields come from the mode word.
class VmeInstruction : public VmeModeWord
{
public:
    VmeInstruction() = default;
};
