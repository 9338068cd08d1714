#pragma once
// The simulator's device tree on disk. Shared by the in-process bus (CSimBus), the preloadable library
// and veltro51-sim; nothing here is part of the simulator's public face (SimApi.h).
//
// A tree:  ROOT/.veltrosim        marks the folder as a simulated tree (opendir sorts it and its buses)
//          ROOT/devices           a plain entry, so that the library accepts ROOT even with no bus
//          ROOT/.transcript       one line per control transfer, appended by every process
//          ROOT/.idle/devices     a tree without buses, used to make the library forget its lists
//          ROOT/NNN/MMM           device files; an unplugged device is renamed to ROOT/NNN/.MMM
// A device file: device descriptor (18 bytes), one configuration descriptor (9 + 9 bytes, no
// endpoints), then the Record below, then the flash. Host byte order: the file never leaves the machine.

#include <cstdint>
#include <string>
#include <vector>

#include <sys/types.h>

#include "sim/SimApi.h"

namespace sim::detail {

constexpr const char* TREE_MARKER = ".veltrosim";
constexpr const char* TRANSCRIPT_FILE = ".transcript";
constexpr const char* IDLE_FOLDER = ".idle";
constexpr int DESCRIPTORS_SIZE = 36;
constexpr off_t RECORD_OFFSET = DESCRIPTORS_SIZE;
constexpr char RECORD_MAGIC[8] = {'V', 'L', 'T', 'R', 'S', 'I', 'M', '1'};

// Chip value of a device that is no programmer at all (AddForeign).
constexpr int32_t FOREIGN_DEVICE = -2;

struct Record {
    char magic[8];
    uint32_t recordSize; // sizeof(Record) of the build that wrote it
    int32_t index;       // order of adding, for the transcript
    int32_t chip;        // catalogue index, -1 empty socket, FOREIGN_DEVICE
    uint16_t vendorId;
    uint16_t productId;
    uint8_t stringUnreadable;
    uint8_t accessDenied;
    uint8_t ignoreWrites;
    uint8_t instantTimeouts;
    uint8_t failKind;
    uint8_t unplugged;
    uint8_t powered;
    uint8_t speedCode;
    int32_t lockStatusOverride;
    int32_t signatureOverride;
    int32_t failAt;
    int32_t failCount;
    int32_t lockMode;
    int32_t vendorRequests;
    int32_t flashSize;
    double delayMs;
    double byteWriteUs;
    char product[128]; // NUL-terminated
    char identity[8];  // the 8 reply bytes of request 11
};

constexpr off_t FLASH_OFFSET = RECORD_OFFSET + static_cast<off_t>(sizeof(Record));

// Flash size of a catalogue chip; 0 for an empty socket or a foreign device.
int FlashSizeOf(int chip);

// Makes ROOT and its fixed entries (ROOT may exist). False with a reason on failure.
bool CreateTree(const std::string& root, std::string& error);
bool IsTree(const std::string& root);

// Writes a new device file on bus folder "%03d" of busNumber, numbered after the highest number
// used on that bus (unplugged ones included). Returns its path, empty on failure.
std::string CreateDeviceFile(const std::string& root, int busNumber, int index, const DeviceConfig& config,
                             bool foreign, std::string& error);

// Reads the record of an open device file; false when the file is none of ours.
bool ReadRecord(int fd, Record& record);
bool WriteRecord(int fd, const Record& record);
bool ReadFlash(int fd, const Record& record, std::vector<uint8_t>& flash);
bool WriteFlash(int fd, const std::vector<uint8_t>& flash);

// Every device file of a tree (plugged or not), ordered by their record's index.
std::vector<std::string> FindDeviceFiles(const std::string& root);
// The path of a device file now: itself, or its unplugged (dot) name.
std::string CurrentPath(const std::string& path);

// An exclusive or shared lock of the whole file (an open file description's record lock), held for
// the life of the object.
class CFileLock {
public:
    CFileLock(int fd, bool exclusive);
    ~CFileLock();
    CFileLock(const CFileLock&) = delete;
    CFileLock& operator=(const CFileLock&) = delete;

private:
    int m_fd;
};

// The device's side of one control transfer (usbdevfs_ctrltransfer) on a device file that the
// caller has open as fd at path; returns the bytes moved or -errno. Sleeps (delay, time-out) after
// every lock is released. Thread-safe and process-safe.
int AnswerControl(int fd, const std::string& path, void* transfer);

// Appends one transcript line to the tree that holds the device at path.
void AppendTranscript(const std::string& devicePath, const TranscriptEntry& entry);
std::vector<TranscriptEntry> ReadTranscript(const std::string& root);

} // namespace sim::detail
