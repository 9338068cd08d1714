#pragma once
// --json: a command's result as one JSON object on standard output, for scripts; a burn gives one per
// chip cycle, with the production log's fields. Keys are always present, in the order the man page
// gives, null where a value is unknown or does not apply.

#include <string>
#include <vector>

#include "cli/Console.h"
#include "cli/Options.h"
#include "ops/Programmers.h"
#include "ops/ChipOps.h"
#include "ops/ImageSource.h"
#include "ops/LogPort.h"

// A JSON object written key by key, in the order given.
class CJsonObject {
public:
    CJsonObject& String(const char* key, const std::string& value); // a string, null when empty
    CJsonObject& Number(const char* key, long long value);
    CJsonObject& Bool(const char* key, bool value);
    CJsonObject& Null(const char* key);
    CJsonObject& Raw(const char* key, const std::string& json); // a value already in JSON
    std::string Text() const { return m_text + "}"; }

private:
    std::string m_text = "{";
};

// "done", "failed", "no_programmer", "no_chip", "unknown_chip", "wrong_chip", "locked", "mismatch",
// "not_blank", "aborted".
const char* ChipStatusJsonName(Result status);

// list: every programmer found.
std::string ListJson(const std::vector<ProgrammerLocation>& found, int exitStatus);

// What a chip command adds to its result.
struct ChipJsonDetails {
    const CFileImageSource* image = nullptr; // verify: the file compared with
    std::string file;                        // verify: FILE; read: OUT
    const uint8_t* flash = nullptr;          // read: the bytes read (result.length of them)
    bool saved = false;                      // read: OUT holds them
};

// info, read, verify, blank, erase.
std::string ChipJson(CliCommand command, const ChipResult& result, int exitStatus, const CliOptions& options,
                     const ChipJsonDetails& details);

// The burn's presenter for --json: each chip cycle, once it ended, as a line of one JSON object on
// standard output: the production log's line for it. Every event goes on to the port it wraps.
class CJsonCyclePort : public IOperationPort {
public:
    CJsonCyclePort(IOperationPort& inner, CConsole& console, ProductionContext context)
        : m_inner(inner), m_console(console), m_context(std::move(context)) {}

    void Row(RowKind kind, const std::string& text) override { m_inner.Row(kind, text); }
    void Progress(int done, int total) override { m_inner.Progress(done, total); }
    void CycleStarted(int cycle) override;
    void Identified(const CycleReport& report) override { m_inner.Identified(report); }
    void ChipVerified(int chipsWritten) override { m_inner.ChipVerified(chipsWritten); }
    void CycleEnded(const CycleReport& report) override;
    void Ended(Result ending) override { m_inner.Ended(ending); }
    void Message(const std::string& text, MsgIcon icon) override { m_inner.Message(text, icon); }
    bool Ask(Question question) override { return m_inner.Ask(question); }

private:
    IOperationPort& m_inner;
    CConsole& m_console;
    ProductionContext m_context;
    std::chrono::steady_clock::time_point m_cycleStart;
};
