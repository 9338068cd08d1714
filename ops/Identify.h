#pragma once
// Identification for the command line's info: test the programmer, power the target with the burn's
// pacing, read the chip's signature, its lock status and the programmer's speed, in one connection.

#include <cstdint>
#include <string>

#include "ops/Port.h"
#include "ops/Sleeper.h"

struct IdentifyJob {
    std::string location; // "BUS/DEVICE", or empty for the first programmer found
};

struct ChipIdentity {
    bool opened = false; // a programmer was found and held
    std::string product; // its product string
    bool tested = false; // it passed the hardware test
    bool signatureRead = false;
    uint8_t signature[3] = {}; // as received
    bool noChip = false;       // the signature reads 0xFF 0xFF 0xFF
    int chip = -1;             // the catalogue chip of the signature, -1 for none
    bool lockRead = false;
    uint8_t lockStatus = 0; // as received, unmasked
    bool speedRead = false;
    uint8_t speedCode = 0;
    bool ok = false; // every step succeeded and a chip is in the socket
};

// Open, TestHardware, four PowerOn with 250 ms after each, 1000 ms, ReadSignature; then, with a chip
// in the socket, ReadLockBits; then GetSpeed. A failed step is a message (the Read Flash dialog's
// words) or, for a PowerOn, the error row "Continuing with Errors ..."; no request follows a failed
// one but PowerOff. PowerOff before the programmer is released whenever it was opened.
ChipIdentity IdentifyChip(const IdentifyJob& job, IOperationPort& port, ISleeper& sleeper);
