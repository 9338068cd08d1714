#pragma once
// Watch mode: one socket that starts on its own. The worker holds its programmer and polls the
// socket (power on, read the signature, power off; FF FF FF is an empty socket); a chip seen twice in
// a row with the same signature is burned and verified once by the burn itself (BurnThreadProc, its
// rows, its abort rules and its PowerOff), then the socket is polled until it reads empty twice in a
// row, and waits for the next chip. Two equal reads either way keep a chip that is still being pushed
// in, or a contact that flickers, from being taken for a new chip: no chip is burned twice without a
// removal in between. The target is powered only for the length of one poll.
//
// A chip that cannot be burned (the wrong chip, an unknown signature, a failed request) is told once
// by its cycle's rows; the socket then waits for its removal. A socket whose polls fail says so once
// and goes on trying quietly; a programmer that can no longer be opened ends the watch (NoProgrammer).

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>

#include "ops/Burn.h"
#include "ops/Port.h"
#include "ops/Sleeper.h"

// The poll's pacing (the man page gives the reasons): a poll every WATCH_POLL_MS, the target powered
// WATCH_SETTLE_MS before the signature is read.
constexpr int WATCH_POLL_MS = 500;
constexpr int WATCH_SETTLE_MS = 50;

struct WatchJob {
    // Each chip's burn. Its abort is the watch's: looked at between polls and by the burn as ever.
    // Its running flag goes to 0 when the watch ends.
    BurnJob burn;
    int pollMs = WATCH_POLL_MS;
    int settleMs = WATCH_SETTLE_MS;
    // The chip in the socket was dealt with already (a worker before this one): wait for its removal.
    bool awaitRemoval = false;
    // Set from another thread: end once the chip in hand is done, before the next one is burned.
    const std::atomic<int32_t>* stop = nullptr;
    // After each chip: the reason the whole line must stop (a serial store or a log that failed, a
    // firmware file that can no longer be used), empty to go on. May be empty.
    std::function<std::string()> stopReason;
};

struct WatchResult {
    Result ending = Result::Done; // Done: stopped when asked; Aborted; NoProgrammer: the programmer is
                                  // gone; Failed: stopped for stopReason (told in a row)
    int chipsWritten = 0;         // verified chips
    int chipsFailed = 0;          // chips that failed or were refused
    int lockFailures = 0;
    int powerOffFailures = 0;
};

// The watch, until it is aborted, stopped or its programmer is gone. Reports through port: the burn's
// events for each chip (cycles numbered across the watch, no question asked, no Ended between
// chips), ChipAwaited and ChipRemoved, a row for each change of the socket, and Ended last.
// PowerOff is the last request.
WatchResult WatchThreadProc(IProgrammer& link, const WatchJob& job, IOperationPort& port, ISleeper& sleeper);
