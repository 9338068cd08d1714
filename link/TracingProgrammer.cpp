#include "link/TracingProgrammer.h"

#include <chrono>
#include <cstdio>

namespace {

std::string Hex(unsigned value, int digits) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%0*X", digits, value);
    return text;
}

const char* OkText(bool ok) {
    return ok ? "ok" : "FAILED";
}

} // namespace

template <typename Call> auto CTracingProgrammer::Trace(const std::string& request, Call call) {
    const auto start = std::chrono::steady_clock::now();
    const auto [value, text] = call();
    const std::chrono::duration<double, std::milli> took = std::chrono::steady_clock::now() - start;
    Tell(request, text, took.count());
    return value;
}

void CTracingProgrammer::Tell(const std::string& request, const std::string& result, double ms) {
    char time[32];
    std::snprintf(time, sizeof time, "%.1f ms", ms);
    m_sink(request + " -> " + result + " (" + time + ")");
}

bool CTracingProgrammer::Open() {
    return Trace("Open", [&] {
        const bool ok = m_inner.Open();
        std::string text = ok ? "ok, " + m_inner.HeldLocation() : "FAILED";
        if (!ok && m_inner.Busy())
            text += ", busy";
        if (!ok && m_inner.AccessDenied())
            text += ", access denied";
        return std::pair{ok, text};
    });
}

void CTracingProgrammer::Close() {
    const bool held = m_inner.IsOpen();
    m_inner.Close();
    if (held)
        Tell("Close", "ok", 0.0);
}

bool CTracingProgrammer::PowerOn() {
    return Trace(req::PowerOn.name, [&] {
        const bool ok = m_inner.PowerOn();
        return std::pair{ok, std::string(OkText(ok))};
    });
}

bool CTracingProgrammer::PowerOff() {
    return Trace(req::PowerOff.name, [&] {
        const bool ok = m_inner.PowerOff();
        return std::pair{ok, std::string(OkText(ok))};
    });
}

bool CTracingProgrammer::ReadBlock(uint16_t address, uint8_t* buffer) {
    return Trace(std::string(req::ReadBlock.name) + " " + Hex(address, 4), [&] {
        const bool ok = m_inner.ReadBlock(address, buffer);
        return std::pair{ok, std::string(OkText(ok))};
    });
}

bool CTracingProgrammer::WriteBlock(uint16_t address, const uint8_t* data, int length) {
    return Trace(std::string(req::WriteBlock.name) + " " + Hex(address, 4) + " " + std::to_string(length),
                 [&] {
                     const bool ok = m_inner.WriteBlock(address, data, length);
                     return std::pair{ok, std::string(OkText(ok))};
                 });
}

bool CTracingProgrammer::ReadSignature() {
    return Trace(req::ReadSignature.name, [&] {
        const bool ok = m_inner.ReadSignature();
        const uint8_t* s = m_inner.GetSignature();
        return std::pair{ok, ok ? Hex(s[0], 2) + " " + Hex(s[1], 2) + " " + Hex(s[2], 2)
                                : std::string(OkText(ok))};
    });
}

bool CTracingProgrammer::EraseChip() {
    return Trace(req::EraseChip.name, [&] {
        const bool ok = m_inner.EraseChip();
        return std::pair{ok, std::string(OkText(ok))};
    });
}

bool CTracingProgrammer::TestHardware() {
    return Trace(req::TestHardware.name, [&] {
        const bool ok = m_inner.TestHardware();
        return std::pair{ok, std::string(OkText(ok))};
    });
}

bool CTracingProgrammer::WriteLockMode(int mode) {
    return Trace("WriteLockMode" + std::to_string(mode), [&] {
        const bool ok = m_inner.WriteLockMode(mode);
        return std::pair{ok, std::string(OkText(ok))};
    });
}

uint8_t CTracingProgrammer::ReadLockBits(bool* ok) {
    return Trace(req::ReadLockBits.name, [&] {
        bool received = false;
        const uint8_t value = m_inner.ReadLockBits(&received);
        if (ok != nullptr)
            *ok = received;
        return std::pair{value, received ? Hex(value, 2) : std::string(OkText(false))};
    });
}

bool CTracingProgrammer::SetSpeed(uint8_t code) {
    return Trace(std::string(req::SetSpeed.name) + " " + std::to_string(code), [&] {
        const bool ok = m_inner.SetSpeed(code);
        return std::pair{ok, std::string(OkText(ok))};
    });
}

uint8_t CTracingProgrammer::GetSpeed(bool* ok) {
    return Trace(req::GetSpeed.name, [&] {
        bool received = false;
        const uint8_t value = m_inner.GetSpeed(&received);
        if (ok != nullptr)
            *ok = received;
        return std::pair{value, received ? std::to_string(value) : std::string(OkText(false))};
    });
}
