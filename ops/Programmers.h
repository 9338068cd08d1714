#pragma once
// The programmers as a front end (the command line, the dialogs) gets them from the core: the
// attached ones, and a link to the default model, without naming a model or the link layer's
// catalogue. The sequences take the link as the IProgrammer they are given.

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "link/IProgrammer.h"

// Every attached programmer of every known model, in the models' order.
std::vector<ProgrammerLocation> AttachedProgrammers();

// A link to the default model, not yet open; with a trace, behind a tracer that tells it every
// request with its result and time ("PowerOn -> ok (0.4 ms)").
class COperationLink {
public:
    using Trace = std::function<void(const std::string& line)>;
    explicit COperationLink(Trace trace = {});
    ~COperationLink();
    COperationLink(const COperationLink&) = delete;
    COperationLink& operator=(const COperationLink&) = delete;

    IProgrammer& operator*() { return m_tracer ? *m_tracer : *m_programmer; }

private:
    std::unique_ptr<IProgrammer> m_programmer;
    std::unique_ptr<IProgrammer> m_tracer;
};
