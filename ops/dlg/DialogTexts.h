#pragma once
// The device dialogs' own words: captions, control texts and the Write command's message. The rows,
// status lines and messages of the sequences are in ops/Texts.h.

// ---- Write Device (stop icon) ----
constexpr const char* MSG_CANNOT_LOAD_DIALOG = "Cannot Load Dialog\nSystem is Criticaly Low on Memory";

// ---- Burn progress dialog ----
constexpr const char* BURN_COLUMN_ICON = "  "; // two blanks: the column holds only the row's icon
constexpr const char* BURN_COLUMN_TIME = "Time";
constexpr const char* BURN_COLUMN_TASKS = "Tasks";
constexpr const char* BURN_GROUP_PROGRESS = "Progress";
constexpr const char* BURN_PERCENT_START = "0";
constexpr const char* BURN_PERCENT_SIGN = "%";
constexpr const char* BURN_ELAPSED_START = "Time Elapsed 00:00:00";
constexpr const char* BURN_CHIPS_WRITTEN_START = "Chips Written - 0";
constexpr const char* TEXT_ABORT = "Abort";
constexpr const char* TEXT_CLOSE = "Close";

// ---- Read Flash ----
constexpr const char* READ_CAPTION = "Read Flash";
constexpr const char* READ_GROUP = "Reading Flash Memory";
constexpr const char* READ_STATUS_START = "Progress ...";

// ---- Lock Bits ----
constexpr const char* LOCK_CAPTION = "Lock Bits";
constexpr const char* LOCK_GROUP = "Lock Bits";
constexpr const char* LOCK_LB1 = "LB1 (Lock Bit 1)";
constexpr const char* LOCK_LB2 = "LB2 (Lock Bit 2)";
constexpr const char* LOCK_LB3 = "LB3 (Lock Bit 3)";
constexpr const char* LOCK_BUTTON_READ = "Read Lock Bits ...";
constexpr const char* LOCK_BUTTON_WRITE = "Write Lock Bits ...";
constexpr const char* LOCK_AFTER_BURN = "Automatically Lock Device After Burning";
constexpr const char* LOCK_NOTE = "NOTE:\nTick = Programmed (P) \nRefer To Device Datasheet for more info.";

// ---- Programming Speed ----
constexpr const char* SPEED_CAPTION = "Programming Speed";
constexpr const char* SPEED_GROUP = "Programming Speed";
constexpr const char* SPEED_SLOW = "Slow";
constexpr const char* SPEED_FAST = "Fast";
constexpr const char* SPEED_LABEL_START = "Static";
constexpr const char* SPEED_NOTE =
    "Note:\n\n*The Programming frequency must be less than 1/16 of  Target(89SXX MCU) "
    "crystal frequency.\n\n*The programming speed is stored in Hardware itself and "
    "not in the host PC.";
constexpr const char* TEXT_OK = "OK";
constexpr const char* TEXT_CANCEL = "Cancel";
