#include "ops/Identify.h"

#include <algorithm>

#include "chips/ChipCatalogue.h"
#include "link/Programmer.h"
#include "ops/Format.h"
#include "ops/Texts.h"

namespace {

// The burn's waits before it reads the signature.
constexpr int POWER_STEPS = 4;
constexpr int WAIT_POWER_STEP_MS = 250;
constexpr int WAIT_SIGNATURE_MS = 1000;

void Identify(CProgrammer& programmer, ChipIdentity& identity, IOperationPort& port, ISleeper& sleeper) {
    if (!programmer.Open()) {
        port.Message(NoProgrammerMessage(programmer), MsgIcon::Error);
        return;
    }
    identity.opened = true;
    const char* product = programmer.GetProductString();
    identity.product = product ? product : "";
    if (!programmer.TestHardware()) {
        port.Message(MSG_BAD_ANSWER, MsgIcon::Error);
        return;
    }
    identity.tested = true;
    for (int level = 1; level <= POWER_STEPS; ++level) {
        if (!programmer.PowerOn())
            port.Row(RowKind::Error, ROW_CONTINUING);
        sleeper.Sleep(WAIT_POWER_STEP_MS);
    }
    sleeper.Sleep(WAIT_SIGNATURE_MS);
    if (!programmer.ReadSignature()) {
        port.Message(MSG_NOT_RESPONDING, MsgIcon::Error);
        return;
    }
    const uint8_t* signature = programmer.GetSignature();
    identity.signatureRead = true;
    std::copy(signature, signature + 3, identity.signature);
    identity.noChip = signature[0] == 0xFF && signature[1] == 0xFF && signature[2] == 0xFF;
    identity.chip = identity.noChip ? -1 : FindChipBySignature(signature);
    if (identity.noChip) {
        port.Row(RowKind::Error, ROW_NO_CHIP);
    } else {
        bool ok = false;
        identity.lockStatus = programmer.ReadLockBits(&ok);
        identity.lockRead = ok;
        if (!ok) {
            port.Message(MSG_NOT_RESPONDING, MsgIcon::Error);
            return;
        }
    }
    bool ok = false;
    identity.speedCode = programmer.GetSpeed(&ok);
    identity.speedRead = ok;
    if (!ok) {
        port.Message(MSG_NOT_RESPONDING, MsgIcon::Error);
        return;
    }
    identity.ok = !identity.noChip;
}

} // namespace

ChipIdentity IdentifyChip(const IdentifyJob& job, IOperationPort& port, ISleeper& sleeper) {
    ChipIdentity identity;
    CProgrammer programmer;
    programmer.SetLocation(job.location);
    Identify(programmer, identity, port, sleeper);
    ReleaseProgrammer(programmer);
    port.Ended(identity.ok ? Ending::Done : Ending::Failed);
    return identity;
}
