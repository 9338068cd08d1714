#pragma once
// Every row, status and message text of the device operations, in one place. They are the product's
// own words: spelling, capitals and double blanks are as the users have always seen them.

// ---- Burn: task list rows (kind in brackets) ----
constexpr const char* ROW_CHIP_START =
    "------------------  CHIP NO (%d)  START------------------";                    // [info], %d chip number
constexpr const char* ROW_INITIALIZING = "Initializing...";                         // [info]
constexpr const char* ROW_DETECTING = "Detecting Programmer ...";                   // [info]
constexpr const char* ROW_NO_PROGRAMMER = "No Valid Programmer Detected On System"; // [error]
constexpr const char* ROW_FOUND = "Found:";                             // [success], then the product string
constexpr const char* ROW_TESTING = "Testing Programmer Hardware ...";  // [info]
constexpr const char* ROW_NOT_RESPONDING = "Programmer Not Responding"; // [error]
constexpr const char* ROW_HARDWARE_OK = "Hardware Test OK";             // [success]
constexpr const char* ROW_POWERING_ON = "Powering On ...";              // [info]
constexpr const char* ROW_POWERED_LEVEL = "Powered On Level %d";        // [success], %d 1..4
constexpr const char* ROW_CONTINUING = "Continuing with Errors ...";    // [error]
constexpr const char* ROW_AUTO_DETECTING = "Auto Detecting Chip ...";   // [info]
// After a failed signature read or erase ...
constexpr const char* ROW_RECONNECT_LOWER =
    "Please Disconect the programmer and Connect again after few seconds."; // [info]
// ... and after a failed block write or read.
constexpr const char* ROW_RECONNECT_UPPER =
    "Please Disconect the Programmer and Connect Again After Few Seconds.";           // [info]
constexpr const char* ROW_NO_CHIP = "No Chip Inserted Into Socket";                   // [error]
constexpr const char* ROW_INSERT_CHIP = "Please Insert a Valid Chip into the Socket"; // [info]
constexpr const char* ROW_FOUND_CHIP = "Found : %s";                       // [success], the chip's name
constexpr const char* ROW_SIGNATURE = "Signature : 0x%02X 0x%02X 0x%02X "; // [info], the bytes as read
constexpr const char* ROW_ERASING = "Erasing Chip ...";                    // [info]
constexpr const char* ROW_ERASED = "Chip Erased";                          // [success]
// [info], by the low two bits of the speed code.
constexpr const char* ROW_SPEED[4] = {"Burn Process Started at 3000KHz", "Burn Process Started at 750KHz",
                                      "Burn Process Started at 188KHz", "Burn Process Started at 94KHz"};
constexpr const char* ROW_BURN_FAILED = "Burn Process Failed";                    // [error]
constexpr const char* ROW_BURN_COMPLETED = "Burn Process Completed Successfully"; // [success]
constexpr const char* ROW_VERIFY_FAILED = "Data Verification  Failed";            // [error]
constexpr const char* ROW_MISMATCH = "Data Mismatch at:";                         // [error]
constexpr const char* ROW_MISMATCH_AT =
    "0x%04X CHIP: 0x%02X | BUFFER: 0x%02X";                          // [error] address, read, image
constexpr const char* ROW_TASK_FAILED = "Task Failed";               // [error]
constexpr const char* ROW_TRY_AGAIN = "Thankyou, Please try again "; // [info]
constexpr const char* ROW_VERIFY_OK = "Data Verification Success";   // [success]
constexpr const char* ROW_THANKYOU = "Thankyou";                     // [info]
constexpr const char* ROW_AUTO_LOCK = "Auto Lock Option Selected, Device Will be Locked Now"; // [info]
constexpr const char* ROW_LOCK_ACTIVATED = "Lock Mode %d Activated"; // [success], modes 2..4
constexpr const char* ROW_LOCK_FAILED = "Lock Mode %d Failed";       // [error], modes 1..4
// Burn dialog, from the Abort handler.
constexpr const char* ROW_ABORTING = "Aborting ...";   // [error]
constexpr const char* ROW_ABORTED = "Aborted By User"; // [error]

constexpr const char* LABEL_CHIPS_WRITTEN = "Chips Written - %d";
constexpr const char* LABEL_TIME_ELAPSED = "Time Elapsed %02d:%02d:%02d"; // hours, minutes, seconds
constexpr const char* PERCENT_FORMAT = "%.1f";
constexpr const char* ROW_TIME_FORMAT = "%I:%M:%S %p"; // the time column of a row, local time

// Burn questions and message (Yes/No without icon; the last with the stop icon).
constexpr const char* ASK_WRITE_MORE = "Write More Chips ?";
constexpr const char* ASK_ABORT_BURN = "Burn in Progress. Are you sure want to Abort ?";
constexpr const char* MSG_CANNOT_END_BURNER = "Cannot End Burner Thread";

// ---- Read Flash, Lock Bits, Programming Speed: reaching the programmer (stop icon) ----
constexpr const char* MSG_NO_PROGRAMMER = "Error : Cannot Find Any Valid Programmer Installed On System";
constexpr const char* MSG_BAD_ANSWER = "Error : Programer Does Not Answer Properly";
constexpr const char* MSG_NOT_RESPONDING =
    "Error : Programmer Not Responding, Please Remove and Reconnect Again";
// Follows a failed Open (as a further row of the burn, the next line of the message box, or of the
// command line's error) when a programmer was found that this user may not open: the reason why none
// was usable. It fits the burn dialog's 480-pixel task column in its 8-point font, with room to spare
// for a wider fallback face.
constexpr const char* MSG_ACCESS_DENIED =
    "This user may not use the programmer: install its udev rule (Help, Installation).";
// Follows a failed Open in the same way when a programmer was passed over because another program
// (or another window of this one) is using it.
constexpr const char* MSG_PROGRAMMER_BUSY = "The programmer is in use by another program.";

// ---- Read Flash: status texts of the dialog, and the view's messages after it ----
constexpr const char* STATUS_INITIALIZING = "Initializing ...";
constexpr const char* STATUS_DETECTING = "Detecting Programmer ...";
constexpr const char* STATUS_TESTING = "Testing ...";
constexpr const char* STATUS_HARDWARE_OK = "Hardware Test Ok !";
constexpr const char* STATUS_READING = "Reading Flash ...";
constexpr const char* STATUS_ERROR = "Error";
constexpr const char* STATUS_ABORTED = "Aborted By User";
constexpr const char* STATUS_SUCCESS = "Success !";
constexpr const char* MSG_READ_SUCCESS = "Flash Read Success";       // information
constexpr const char* MSG_NO_DATA_READ = "Error : No Data Read !!!"; // stop icon

// ---- Lock Bits (information icon) ----
constexpr const char* MSG_NOT_LOCKED = "Device is NOT locked !!!";
constexpr const char* MSG_LOCKED_MODE2 =
    "Device is locked with Lock Mode 2\nBut You can still Read the Flash !!!";
constexpr const char* MSG_LOCKED_MODE3 =
    "Device is locked with Lock Mode 3\nYou CANNOT read Flash Memory !!!";
constexpr const char* MSG_LOCKED_MODE4 =
    "Device is locked with Lock Mode 4\nYou CANNOT read Flash Memory !!!";
constexpr const char* MSG_DEVICE_LOCKED = "Device Locked - Lock Mode = %d";

// ---- Programming Speed ----
constexpr const char* LABEL_SPEED = "%dKHz";
constexpr const char* MSG_SPEED_CHANGED = "Programming Speed Changed Successfuly !";    // information
constexpr const char* MSG_SPEED_NOT_CHANGED = "Error: Cannot Change Programming Speed"; // stop icon

// ---- The burn's power-off that failed (rows), wherever it is sent ----
constexpr const char* ROW_POWER_OFF_FAILED = "Power Off Failed : the Target May Still be Powered"; // [error]
constexpr const char* ROW_DISCONNECT_FIRST =
    "Disconnect the Programmer Before Removing the Chip"; // [info], after it
// The message-box operations' form of the two rows above, after a PowerOff that failed.
constexpr const char* MSG_POWER_OFF_FAILED = "Power Off Failed : the Target May Still be Powered\n"
                                             "Disconnect the Programmer Before Removing the Chip";

// ---- Identity of the chip, where the caller asks for it (the command line) ----
constexpr const char* ROW_CATALOGUE_CHIP = "Catalogue Chip : %s"; // [info], the catalogue name
constexpr const char* ROW_UNKNOWN_SIGNATURE =
    "Unknown Signature 0x%02X 0x%02X 0x%02X : No Supported Chip"; // [error], the bytes as read
constexpr const char* ROW_WRONG_CHIP = "Wrong Chip : %s in the Socket, %s Asked For"; // [error], found, asked
constexpr const char* ROW_FORCED_CHIP = "Forced : Programming as %s"; // [info], the chip asked for
constexpr const char* ROW_LOCK_STATUS_OTHER = "Lock Bits : 0x%02X, no lock mode"; // [info], the byte as read
constexpr const char* ROW_SPEED_NOW = "Programming Speed : %s";                   // [info], SpeedCodeText
constexpr const char* LABEL_SPEED_UNKNOWN = "Unknown speed code %d"; // a stored byte that is no code

// ---- The command line's reads: verify, blank check, erase ----
constexpr const char* ROW_READ_DONE = "Flash Read";                              // [success]
constexpr const char* ROW_DIFFERENCES = "%d Bytes Differ";                       // [error], after the first
constexpr const char* ROW_BLANK = "Chip is Blank";                               // [success]
constexpr const char* ROW_NOT_BLANK = "Chip is Not Blank : 0x%04X Holds 0x%02X"; // [error], the first
constexpr const char* ROW_NOT_BLANK_COUNT = "%d Bytes are Not 0xFF";             // [error]
constexpr const char* ROW_CHECKSUMS = "CRC-32 : 0x%08X, Sum : 0x%04X, %d Bytes"; // [info]

// ---- The command line's production line: serial numbers and the log ----
constexpr const char* ROW_SERIAL = "Serial Number : %llu";                // [info], the number this chip gets
constexpr const char* ROW_SERIAL_FAILED = "Serial Number : %s";           // [error], why none was given
constexpr const char* ROW_LOG_FAILED = "Production Log Not Written : %s"; // [error], the reason
constexpr const char* ROW_WAITING = "Waiting For %s ...";                 // [error], the target unpowered

// ---- The firmware a job pins by its SHA-256 ----
constexpr const char* MSG_FIRMWARE_REFUSED =
    "Firmware Refused : SHA-256 of %s is %s, %s expected"; // stop icon: the file, its hash, the pinned one

// ---- Watch mode: a socket that starts when a chip is inserted ----
constexpr const char* ROW_WATCH_WAITING = "Waiting For a Chip ...";                // [info]
constexpr const char* ROW_WATCH_REMOVE = "Remove the Chip From the Socket";        // [info], after each chip
constexpr const char* ROW_WATCH_REMOVED = "Chip Removed";                          // [success]
constexpr const char* ROW_WATCH_POLL_FAILED = "Socket Cannot Be Read : %s Failed"; // [error], once per chip
constexpr const char* ROW_WATCH_GONE = "Programmer Gone : Unplugged or Taken by Another Program"; // [error]
constexpr const char* ROW_WATCH_STOPPED = "Socket Stopped : %s"; // [error], the reason
constexpr const char* ROW_WATCH_STOPPING = "Socket Stopped : Another Socket Stopped the Bench"; // [info]
