#include "cli/Json.h"

#include <chrono>
#include <cstdio>

#include "Version.h"
#include "image/Checksum.h"
#include "ops/ChipSession.h"
#include "ops/LockBits.h"
#include "ops/ProductionLog.h"
#include "ops/Speed.h"

namespace {

std::string HexText(unsigned long long value, int digits) {
    char text[24];
    std::snprintf(text, sizeof text, "%0*llx", digits, value);
    return text;
}

std::string SignatureText(const CycleReport& report) {
    char text[16];
    std::snprintf(text, sizeof text, "%02X %02X %02X", report.signature[0], report.signature[1],
                  report.signature[2]);
    return text;
}

const char* CommandName(CliCommand command) {
    switch (command) {
    case CliCommand::Info:
        return "info";
    case CliCommand::Read:
        return "read";
    case CliCommand::Verify:
        return "verify";
    case CliCommand::Blank:
        return "blank";
    case CliCommand::Erase:
        return "erase";
    default:
        return "";
    }
}

} // namespace

CJsonObject& CJsonObject::Raw(const char* key, const std::string& json) {
    if (m_text.size() > 1)
        m_text += ",";
    m_text += JsonString(key) + ":" + json;
    return *this;
}
CJsonObject& CJsonObject::String(const char* key, const std::string& value) {
    return Raw(key, value.empty() ? std::string("null") : JsonString(value));
}
CJsonObject& CJsonObject::Number(const char* key, long long value) {
    return Raw(key, std::to_string(value));
}
CJsonObject& CJsonObject::Bool(const char* key, bool value) {
    return Raw(key, value ? "true" : "false");
}
CJsonObject& CJsonObject::Null(const char* key) {
    return Raw(key, "null");
}

const char* ChipStatusJsonName(ChipStatus status) {
    switch (status) {
    case ChipStatus::Done:
        return "done";
    case ChipStatus::Failed:
        return "failed";
    case ChipStatus::NoProgrammer:
        return "no_programmer";
    case ChipStatus::NoChip:
        return "no_chip";
    case ChipStatus::UnknownChip:
        return "unknown_chip";
    case ChipStatus::WrongChip:
        return "wrong_chip";
    case ChipStatus::Locked:
        return "locked";
    case ChipStatus::Mismatch:
        return "mismatch";
    case ChipStatus::NotBlank:
        return "not_blank";
    case ChipStatus::Aborted:
        return "aborted";
    }
    return "failed";
}

std::string ListJson(const std::vector<ProgrammerLocation>& found, int exitStatus) {
    std::string programmers = "[";
    for (const ProgrammerLocation& location : found) {
        if (programmers.size() > 1)
            programmers += ",";
        programmers += CJsonObject()
                           .String("programmer", location.bus + "/" + location.device)
                           .String("product", location.product)
                           .Bool("access_denied", location.accessDenied)
                           .Bool("busy", location.busy)
                           .Bool("usable", location.Usable())
                           .Text();
    }
    programmers += "]";
    return CJsonObject()
        .String("command", "list")
        .String("time", UtcTimeText(std::chrono::system_clock::now()))
        .String("version", VELTRO_VERSION)
        .Number("exit_status", exitStatus)
        .Raw("programmers", programmers)
        .Text();
}

std::string ChipJson(CliCommand command, const ChipResult& result, int exitStatus, const CliOptions& options,
                     const ChipJsonDetails& details) {
    const CycleReport& identity = result.identity;
    CJsonObject json;
    json.String("command", CommandName(command))
        .String("time", UtcTimeText(std::chrono::system_clock::now()))
        .String("version", VELTRO_VERSION)
        .String("result", ChipStatusJsonName(result.status))
        .Number("exit_status", exitStatus)
        .String("failure", result.status == ChipStatus::Done ? std::string() : identity.failure)
        .String("programmer", identity.location)
        .String("product", identity.product);
    if (identity.signatureRead)
        json.String("signature", SignatureText(identity));
    else
        json.Null("signature");
    json.String("chip", ChipName(identity.chip))
        .String("chip_requested", options.chip >= 0 ? ChipName(options.chip) : "");

    switch (command) {
    case CliCommand::Info: {
        const LockStatusRow* lock = result.lockRead ? FindLockStatus(result.lockStatus) : nullptr;
        if (result.lockRead)
            json.Number("lock_status", result.lockStatus);
        else
            json.Null("lock_status");
        if (lock != nullptr)
            json.Number("lock_mode", lock->mode);
        else
            json.Null("lock_mode");
        const int position = result.speedRead ? SpeedPositionFromCode(result.speedCode) : -1;
        if (result.speedRead)
            json.Number("speed_code", result.speedCode);
        else
            json.Null("speed_code");
        if (position >= 0)
            json.Number("speed_khz", SpeedKhzAtPosition(position));
        else
            json.Null("speed_khz");
        break;
    }
    case CliCommand::Verify:
    case CliCommand::Blank:
    case CliCommand::Erase: {
        if (command == CliCommand::Verify) {
            const CFileImageSource* image = details.image;
            json.String("file", details.file);
            const bool loaded = image != nullptr && image->Loaded();
            json.String("file_sha256", loaded ? image->Sha256() : "")
                .String("file_crc32", loaded ? HexText(image->Crc(), 8) : "")
                .String("file_sum16", loaded ? HexText(image->Sum(), 4) : "");
        }
        // Counted only when the whole flash was compared.
        const bool compared =
            result.status == ChipStatus::Done ||
            result.status == (command == CliCommand::Verify ? ChipStatus::Mismatch : ChipStatus::NotBlank);
        if (compared)
            json.Number("differences", result.differences);
        else
            json.Null("differences");
        if (compared && result.firstDifference >= 0)
            json.Number("first_difference", result.firstDifference);
        else
            json.Null("first_difference");
        break;
    }
    case CliCommand::Read: {
        json.String("file", details.file).Bool("saved", details.saved);
        const bool read = result.status == ChipStatus::Done && details.flash != nullptr;
        const auto length = static_cast<size_t>(read ? result.length : 0);
        if (read)
            json.Number("bytes", result.length);
        else
            json.Null("bytes");
        json.String("flash_sha256", read ? Sha256Hex(details.flash, length) : "")
            .String("flash_crc32", read ? HexText(Crc32(details.flash, length), 8) : "")
            .String("flash_sum16", read ? HexText(Sum16(details.flash, length), 4) : "");
        break;
    }
    default:
        break;
    }
    return json.Text();
}

void CJsonCyclePort::CycleStarted(int cycle) {
    m_cycleStart = std::chrono::steady_clock::now();
    m_inner.CycleStarted(cycle);
}

void CJsonCyclePort::CycleEnded(const CycleReport& report) {
    const auto duration = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - m_cycleStart);
    m_console.Data(ProductionLogLine(CycleRecord(m_context, report, duration.count())) + "\n");
    m_inner.CycleEnded(report);
}
