#pragma once
// A link that passes every request on to another and tells each one, with its result and the time it
// took, to a sink: "PowerOn -> ok (0.4 ms)". The command line's --verbose puts it in front of the
// programmer, so that a support report shows what went over the wire.

#include <functional>
#include <string>

#include "link/IProgrammer.h"

class CTracingProgrammer : public IProgrammer {
public:
    using Sink = std::function<void(const std::string& line)>;
    CTracingProgrammer(IProgrammer& inner, Sink sink) : m_inner(inner), m_sink(std::move(sink)) {}

    bool Open() override;
    void Close() override;
    bool IsOpen() const override { return m_inner.IsOpen(); }

    bool PowerOn() override;
    bool PowerOff() override;
    bool ReadBlock(uint16_t address, uint8_t* buffer) override;
    bool WriteBlock(uint16_t address, const uint8_t* data, int length) override;
    bool ReadSignature() override;
    bool EraseChip() override;
    bool TestHardware() override;
    bool WriteLockMode(int mode) override;
    uint8_t ReadLockBits(bool* ok = nullptr) override;
    bool SetSpeed(uint8_t code) override;
    uint8_t GetSpeed(bool* ok = nullptr) override;

    const uint8_t* GetSignature() const override { return m_inner.GetSignature(); }
    const char* GetProductString() const override { return m_inner.GetProductString(); }
    void SetLocation(const std::string& busSlashDevice) override { m_inner.SetLocation(busSlashDevice); }
    const std::string& HeldLocation() const override { return m_inner.HeldLocation(); }
    bool AccessDenied() const override { return m_inner.AccessDenied(); }
    bool Busy() const override { return m_inner.Busy(); }

private:
    // Runs call, then tells "request -> result (time)".
    template <typename Call> auto Trace(const std::string& request, Call call);
    void Tell(const std::string& request, const std::string& result, double ms);

    IProgrammer& m_inner;
    Sink m_sink;
};
