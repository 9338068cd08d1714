#include "ops/ChipSession.h"

#include <algorithm>

#include "chips/ChipCatalogue.h"
#include "ops/Format.h"
#include "ops/Texts.h"

namespace {

constexpr int WAIT_INITIALIZING_MS = 500;
constexpr int WAIT_TEST_MS = 500;
constexpr int POWER_STEPS = 4;
constexpr int WAIT_POWER_STEP_MS = 250;
constexpr int WAIT_SIGNATURE_MS = 1000;
constexpr int WAIT_LOCK_MODE_MS = 500;
constexpr int WAIT_ERASE_MS = 500;

} // namespace

const char* ChipName(int chip) {
    return chip >= 0 && chip < CHIP_COUNT ? g_chipCatalogue[static_cast<size_t>(chip)].name : "";
}

CChipSession::CChipSession(IProgrammer& link, IOperationPort& port, ISleeper& sleeper,
                           const std::atomic<int32_t>* abort, const std::string& location)
    : m_port(port), m_sleeper(sleeper), m_abort(abort), m_programmer(link) {
    m_programmer.SetLocation(location);
}

Result CChipSession::Fail(Result status, const std::string& reason, CycleReport& report) {
    Error(reason);
    if (report.failure.empty())
        report.failure = reason;
    return status;
}

Result CChipSession::Start(CycleReport& report) {
    Info(ROW_INITIALIZING);
    m_sleeper.Sleep(WAIT_INITIALIZING_MS);

    // An abort is honoured before every step, so that nothing reaches the chip after it.
    if (AbortRequested())
        return Result::Aborted;
    Info(ROW_DETECTING);
    if (!m_programmer.Open()) {
        const Result status = Fail(Result::NoProgrammer, ROW_NO_PROGRAMMER, report);
        for (const std::string& reason : NoProgrammerReasons(m_programmer))
            Error(reason);
        return status;
    }
    Success(ROW_FOUND);
    const char* product = m_programmer.GetProductString();
    report.product = product ? product : "";
    report.location = m_programmer.HeldLocation();
    Success(report.product);

    Info(ROW_TESTING);
    m_sleeper.Sleep(WAIT_TEST_MS);
    if (AbortRequested())
        return Result::Aborted;
    if (!m_programmer.TestHardware())
        return Fail(Result::Failed, ROW_NOT_RESPONDING, report);
    Success(ROW_HARDWARE_OK);

    Info(ROW_POWERING_ON);
    for (int level = 1; level <= POWER_STEPS; ++level) {
        if (m_programmer.PowerOn())
            Success(FormatText(ROW_POWERED_LEVEL, level));
        else
            Error(ROW_CONTINUING);
        m_sleeper.Sleep(WAIT_POWER_STEP_MS);
    }

    Info(ROW_AUTO_DETECTING);
    m_sleeper.Sleep(WAIT_SIGNATURE_MS);
    if (AbortRequested())
        return Result::Aborted;
    if (!m_programmer.ReadSignature()) {
        const Result status = Fail(Result::Failed, ROW_NOT_RESPONDING, report);
        Info(ROW_RECONNECT_LOWER);
        return status;
    }
    const uint8_t* signature = m_programmer.GetSignature();
    report.signatureRead = true;
    std::copy(signature, signature + 3, report.signature);
    if (signature[0] == 0xFF && signature[1] == 0xFF && signature[2] == 0xFF) {
        const Result status = Fail(Result::NoChip, ROW_NO_CHIP, report);
        Info(ROW_INSERT_CHIP);
        return status;
    }
    report.chip = FindChipBySignature(signature);
    Success(FormatText(ROW_FOUND_CHIP, ChipNameFromSignature(signature).c_str()));
    Info(FormatText(ROW_SIGNATURE, unsigned{signature[0]}, unsigned{signature[1]}, unsigned{signature[2]}));
    return Result::Done;
}

Result CChipSession::OpenSteps(const OpeningStep* steps, size_t count, const char* failureRow) {
    auto fail = [&](Result status, const std::string& message) {
        m_port.Message(message, MsgIcon::Error);
        if (failureRow != nullptr)
            Error(failureRow);
        return status;
    };
    for (size_t i = 0; i < count; ++i) {
        const OpeningStep& step = steps[i];
        switch (step.kind) {
        case OpeningStep::Status:
            Info(step.row);
            break;
        case OpeningStep::Wait:
            m_sleeper.Sleep(step.ms);
            break;
        case OpeningStep::Open:
            if (!m_programmer.Open())
                return fail(Result::NoProgrammer, NoProgrammerMessage(m_programmer));
            break;
        case OpeningStep::Test:
            if (!m_programmer.TestHardware())
                return fail(Result::Failed, MSG_BAD_ANSWER);
            break;
        case OpeningStep::PowerOn:
            if (!m_programmer.PowerOn())
                return fail(Result::Failed, MSG_NOT_RESPONDING);
            break;
        }
    }
    return Result::Done;
}

Result CChipSession::CheckIdentity(const ChipExpectation& expect, CycleReport& report, int& chip) {
    const Result status = Identity(expect, report, chip);
    if (status == Result::Done)
        m_port.Identified(report);
    return status;
}

Result CChipSession::Identity(const ChipExpectation& expect, CycleReport& report, int& chip) {
    chip = -1;
    if (!expect.check)
        return Result::Done;
    // The desktop's name covers two chips only; the catalogue tells the others.
    if (report.chip >= 0)
        Info(FormatText(ROW_CATALOGUE_CHIP, ChipName(report.chip)));
    if (expect.chip < 0) {
        if (report.chip < 0) {
            const uint8_t* s = report.signature;
            return Fail(Result::UnknownChip,
                        FormatText(ROW_UNKNOWN_SIGNATURE, unsigned{s[0]}, unsigned{s[1]}, unsigned{s[2]}),
                        report);
        }
        chip = report.chip;
        return Result::Done;
    }
    // A signature of no catalogue chip is the asked chip's business: that is what asking is for.
    if (report.chip >= 0 && report.chip != expect.chip) {
        if (!expect.force)
            return Fail(Result::WrongChip,
                        FormatText(ROW_WRONG_CHIP, ChipName(report.chip), ChipName(expect.chip)), report);
        Info(FormatText(ROW_FORCED_CHIP, ChipName(expect.chip)));
    }
    chip = expect.chip;
    return Result::Done;
}

int BlocksOf(int length) {
    return length > 0 ? (length + PROGRAMMER_BLOCK - 1) / PROGRAMMER_BLOCK : 0;
}

Result ReadFlashBlocks(IProgrammer& programmer, uint8_t* buffer, int blocks,
                       const std::function<bool()>& after) {
    for (int block = 0; block < blocks; ++block) {
        const int address = block * PROGRAMMER_BLOCK;
        if (!programmer.ReadBlock(static_cast<uint16_t>(address), buffer + address))
            return Result::Failed;
        if (!after())
            return Result::Aborted;
    }
    return Result::Done;
}

FlashComparison CompareFlash(const uint8_t* flash, const uint8_t* image, int length) {
    FlashComparison comparison;
    for (int i = 0; i < length; ++i) {
        if (flash[i] != (image != nullptr ? image[i] : 0xFF)) {
            if (comparison.first < 0)
                comparison.first = i;
            ++comparison.differences;
        }
    }
    return comparison;
}

std::string DifferenceRow(int address, uint8_t chip, uint8_t image) {
    return FormatText(ROW_MISMATCH_AT, static_cast<unsigned>(address), unsigned{chip}, unsigned{image});
}

std::string MismatchFailure(const std::string& differenceRow) {
    return std::string(ROW_MISMATCH) + " " + differenceRow;
}

bool CChipSession::Erase(CycleReport& report) {
    Info(ROW_ERASING);
    report.erased = true;
    if (!m_programmer.EraseChip()) {
        Fail(Result::Failed, ROW_NOT_RESPONDING, report);
        Info(ROW_RECONNECT_LOWER);
        return false;
    }
    m_sleeper.Sleep(WAIT_ERASE_MS);
    Success(ROW_ERASED);
    return true;
}

bool CChipSession::WriteLockModes(int top, CycleReport& report) {
    std::vector<int> modes;
    for (int mode = 1; mode <= std::min(top, 4); ++mode)
        modes.push_back(mode);
    return WriteLockModes(modes, LockReport::Rows, report);
}

bool CChipSession::WriteLockModes(const std::vector<int>& modes, LockReport how, CycleReport& report) {
    const bool rows = how == LockReport::Rows;
    for (const int mode : modes) {
        const bool written = m_programmer.WriteLockMode(mode);
        if (!written) {
            if (rows)
                Error(FormatText(ROW_LOCK_FAILED, mode));
            else
                m_port.Message(MSG_NOT_RESPONDING, MsgIcon::Error);
        } else if (mode > 1) {
            if (rows)
                Success(FormatText(ROW_LOCK_ACTIVATED, mode));
            else
                m_port.Message(FormatText(MSG_DEVICE_LOCKED, mode), MsgIcon::Information);
        }
        if (rows)
            m_sleeper.Sleep(WAIT_LOCK_MODE_MS);
        if (!written) {
            report.lockFailed = true;
            return false;
        }
        report.lockMode = mode;
    }
    return true;
}

bool CChipSession::PowerOff(bool quiet) {
    if (!m_programmer.IsOpen() || m_programmer.PowerOff())
        return true;
    if (quiet)
        return false;
    Error(ROW_POWER_OFF_FAILED);
    Info(ROW_DISCONNECT_FIRST);
    return false;
}

bool CChipSession::Release() {
    const bool off = !m_programmer.IsOpen() || m_programmer.PowerOff();
    if (!off)
        m_port.Message(MSG_POWER_OFF_FAILED, MsgIcon::Error);
    m_programmer.Close();
    return off;
}
