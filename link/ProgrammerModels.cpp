#include "link/ProgrammerModels.h"

const std::vector<ProgrammerModel>& ProgrammerModels() {
    static const std::vector<ProgrammerModel> models = {
        {ISP_PRODUCT_STRING, [] { return std::unique_ptr<IProgrammer>(std::make_unique<CProgrammer>()); },
         &CProgrammer::List},
    };
    return models;
}

std::unique_ptr<IProgrammer> MakeProgrammer() {
    return ProgrammerModels().front().make();
}

std::vector<ProgrammerLocation> ListProgrammers() {
    std::vector<ProgrammerLocation> found;
    for (const ProgrammerModel& model : ProgrammerModels()) {
        std::vector<ProgrammerLocation> some = model.list();
        found.insert(found.end(), some.begin(), some.end());
    }
    return found;
}
