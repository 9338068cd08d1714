#pragma once
// One vocabulary for how things came out: a device operation, a burn, one chip cycle of it, the
// abort of a running operation. The command line maps it to its exit statuses in one table
// (cli/ExitStatus.h); the production log and the cycle lines name a cycle's with CycleOutcomeName.

#include <cstdint>

enum class Result : uint8_t {
    Done,         // everything asked for was done and found as it should be (a burn: the user wanted
                  // no further chip; a chip cycle: verified)
    Failed,       // a step failed (its rows or messages said which), or a file could not be used
    NoProgrammer, // no programmer could be used: none attached, in use, or not this user's
    NoChip,       // the socket is empty (signature 0xFF 0xFF 0xFF)
    UnknownChip,  // the signature is no catalogue chip's, and no chip was asked for
    WrongChip,    // another catalogue chip than the one asked for is in the socket
    Locked,       // lock mode 3 or 4: the flash cannot be read
    Mismatch,     // the chip's flash differs from the image
    NotBlank,     // a byte of the flash is not 0xFF
    Aborted,      // the user's abort took effect
    // The abort of a running operation only:
    Declined,   // the user answered No: nothing done
    NotRunning, // the operation had already ended: nothing done
    TimedOut,   // the operation did not end within the wait
};

// "verified" (Done), "aborted" or "failed" (anything else): a chip cycle as the command line's lines
// and the production log name it.
const char* CycleOutcomeName(Result outcome);
