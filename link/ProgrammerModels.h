#pragma once
// The programmer models this build knows, and how a front end gets a link without naming one: the
// command line and the dialogs ask here, the sequences of ops/ only use the IProgrammer they are
// given. A second model is its class and one entry in the table of ProgrammerModels.cpp.

#include <memory>
#include <vector>

#include "link/IProgrammer.h"
#include "link/Programmer.h"

struct ProgrammerModel {
    const char* name;
    std::unique_ptr<IProgrammer> (*make)();
    std::vector<ProgrammerLocation> (*list)(); // every attached device of this model, in walk order
};

// The known models, the default first.
const std::vector<ProgrammerModel>& ProgrammerModels();

// A link to the default model, not yet open.
std::unique_ptr<IProgrammer> MakeProgrammer();
// Every attached programmer of every model, in the models' order.
std::vector<ProgrammerLocation> ListProgrammers();
