#pragma once
// Programming speed: the clock the programmer drives the target's programming interface with. The
// speed code lives in the programmer only. The Programming Speed dialog's opening and OK, without
// windows; they run on the calling thread (the user-interface thread) and block it for their waits.
//
// Code 0 = 3000 kHz, 1 = 750, 2 = 188, 3 = 94; the slider position is 3 - code ("Slow" 0 .. "Fast" 3).

#include <string>

#include "link/IProgrammer.h"
#include "ops/Port.h"
#include "ops/Sleeper.h"

constexpr int SPEED_SLIDER_MAX = 3;

int SpeedCodeFromPosition(int position); // 3 - position
int SpeedPositionFromCode(int code);     // 3 - code for codes 0..3; -1 for any other value
int SpeedKhzAtPosition(int position);    // 94, 188, 750, 3000 for 0..3; 0 outside
std::string SpeedLabel(int position);    // "%dKHz" of the clock at that position

int SpeedPositionFromKhz(int khz); // the position whose clock is khz kHz; -1 for none
// The clock of a stored code as SpeedLabel gives it, or "Unknown speed code %d" for another byte.
std::string SpeedCodeText(int code);

// What the dialog's opening and OK are asked to do, on the programmer at location ("BUS/DEVICE", or
// empty for the first found).
struct SpeedJob {
    int position = 0; // OK: where the slider stands (kept inside 0..3)
    std::string location;
};

struct SpeedOpening {
    bool stayOpen = false;       // false: a message was shown and the dialog ends with Cancel
    int position = 0;            // where the slider stands (0 unless a code 0..3 was read)
    int code = -1;               // the byte GetSpeed returned, -1 when none was read
    bool noProgrammer = false;   // no programmer could be used (the first message says so)
    bool powerOffFailed = false; // the PowerOff at the end failed (its message was shown)
};

// The dialog's opening: waits 100 ms, Open, 250 ms, TestHardware, 100 ms, GetSpeed; each failure
// shows its message (a failed GetSpeed: "Error : Programmer Not Responding, Please Remove and
// Reconnect Again") and closes the dialog. PowerOff before the device is released; one that fails
// shows that the target may still be powered.
SpeedOpening OpenSpeed(IProgrammer& link, const SpeedJob& job, IOperationPort& port, ISleeper& sleeper);

struct SpeedResult {
    bool changed = false;        // the read-back equals the code written
    bool noProgrammer = false;   // no programmer could be used (the first message says so)
    bool powerOffFailed = false; // the PowerOff at the end failed (its message was shown)
};

// OK: Open, 250 ms, TestHardware, 250 ms, SetSpeed(3 - position), 100 ms, GetSpeed; "Programming
// Speed Changed Successfuly !" only when the read-back succeeded and equals the code written.
// PowerOff before the device is released. The dialog ends afterwards in every case.
SpeedResult ConfirmSpeed(IProgrammer& link, const SpeedJob& job, IOperationPort& port, ISleeper& sleeper);
