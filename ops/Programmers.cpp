#include "ops/Programmers.h"

#include "link/ProgrammerModels.h"
#include "link/TracingProgrammer.h"

std::vector<ProgrammerLocation> AttachedProgrammers() {
    return ListProgrammers();
}

COperationLink::COperationLink(Trace trace) : m_programmer(MakeProgrammer()) {
    if (trace)
        m_tracer = std::make_unique<CTracingProgrammer>(*m_programmer, std::move(trace));
}

COperationLink::~COperationLink() = default;
