#pragma once
// The command line's operations on the chip in the socket, each one connection that starts as the
// burn does (programmer, test, power, signature, the chip's identity) and then:
//   Identify   the lock status and the programming speed;
//   Read       the whole flash of the chip into a buffer;
//   Verify     the whole flash, compared with an image;
//   BlankCheck the whole flash, every byte 0xFF;
//   Erase      erases the chip, then checks that it reads blank;
//   ReadLock   the lock status;
//   WriteLock  lock modes 1 up to a mode.
// Reads first look at the lock bits: a chip in lock mode 3 or 4 returns no flash, so it is refused
// unless the job says to read it anyway. An abort is honoured before every step and after every
// block. PowerOff before the connection is released, on every path.

#include <atomic>
#include <cstdint>
#include <string>

#include "ops/Burn.h"
#include "ops/ChipSession.h"
#include "ops/Port.h"
#include "ops/Sleeper.h"

enum class ChipAction { Identify, Read, Verify, BlankCheck, Erase, ReadLock, WriteLock };

struct ChipJob {
    ChipAction action = ChipAction::Identify;
    ChipExpectation expect{true, -1, false}; // the signature decides, unless a chip is asked for
    bool readLocked = false;                 // read a chip in lock mode 3 or 4 all the same
    IChipImageSource* source = nullptr;      // Verify: the image to compare with
    uint8_t* buffer = nullptr;               // Read, Verify, BlankCheck, Erase: 65536 bytes, the flash read
    int lockMode = 1;                        // WriteLock: modes 1 up to this one
    const std::atomic<int32_t>* abort = nullptr;
    std::string location; // "BUS/DEVICE", or empty for the first programmer found
};

struct ChipResult {
    Result status = Result::Failed;
    CycleReport identity; // product, signature, catalogue chip, failure, lock mode written
    int chip = -1;        // the chip used
    int32_t length = 0;   // bytes read: the chip's flash size
    bool lockRead = false;
    uint8_t lockStatus = 0; // as received
    bool speedRead = false;
    uint8_t speedCode = 0;
    int differences = 0;      // Verify: bytes that differ; BlankCheck, Erase: bytes not 0xFF
    int firstDifference = -1; // their first address
};

ChipResult RunChipJob(IProgrammer& link, const ChipJob& job, IOperationPort& port, ISleeper& sleeper);
