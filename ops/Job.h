#pragma once
// A job file: a production line's settings in a short TOML file, so that a line is set up once and
// the firmware is pinned by its SHA-256. Read and written here for every front end (the command line,
// the bench window); the keys and their meaning:
//
//     firmware     = "blink.hex"          # required: the file to burn, relative to the job's folder
//     sha256       = "<64 hex digits>"    # required: SHA-256 of that file's bytes (as sha256sum says)
//     chip         = "AT89S52"            # the chip that must be in the socket; none: the signature
//     lock         = 2                    # lock modes 1..lock after each verified chip; none: no lock
//     serial       = "0x1FF0,1000,1,le2"  # a serial number per chip: ADDR[,START[,STEP[,FORMAT]]]
//     serial_store = "serial.txt"         # where the numbers are kept (with serial, never alone)
//     log          = "production.log"     # a line of JSON per chip
//     sockets      = "all"                # or ["001/002", ...]; none: the first free programmer
//     mode         = "rounds"             # or "watch"; none: rounds
//
// Paths that are not absolute are relative to the folder of the job file, never to the working
// directory: a job run from anywhere burns the same file and keeps the same serial numbers.

#include <cstdint>
#include <string>
#include <vector>

enum class JobMode { Rounds, Watch };

struct Job {
    std::string firmware;    // as the file holds it: relative to the job's folder, or absolute
    std::string sha256;      // 64 lowercase hexadecimal digits of the firmware file's bytes
    std::string chip;        // catalogue name; empty: the signature decides
    int lock = 0;            // 1..4; 0: no lock
    std::string serial;      // ADDR[,START[,STEP[,FORMAT]]] as ParseSerialSpec reads it; empty: none
    std::string serialStore; // the serial numbers' store: a file path (relative as firmware); empty: none
    std::string log;         // the production log's path (relative as firmware); empty: none
    bool allSockets = false; // sockets = "all"
    std::vector<std::string> sockets; // "BUS/DEVICE", three digits each; empty (and not all): first free
    JobMode mode = JobMode::Rounds;

    bool operator==(const Job&) const = default;
};

// A job as loaded, or why it was not: message is "PATH:LINE: what is wrong" (line 0 when the file
// could not be read at all, the file's last line for a key that is missing).
struct JobLoad {
    bool ok = false;
    Job job;
    int line = 0;
    std::string message;
};

struct JobSaved {
    bool ok = false;
    std::string message; // "PATH: why", when not saved
};

// Reads and checks the job file at path (a regular file of at most 64 KiB): every key known, of its
// type and form, the required ones there.
JobLoad LoadJob(const std::string& path);
// The same for a job's text; source names it in the messages.
JobLoad ParseJob(const std::string& text, const std::string& source);

// The job as a file's text, with a comment that tells where the keys are documented.
std::string JobText(const Job& job);
// Writes the job to path through the safe replace, after checking that the text reads back as this
// very job (a value that cannot be written in TOML, or one LoadJob would refuse, is refused here).
JobSaved SaveJob(const Job& job, const std::string& path);

// A path of the job (firmware, serial_store, log) as the program opens it: absolute as it stands,
// else within the folder of the job file at jobPath.
std::string ResolveJobPath(const std::string& jobPath, const std::string& path);
// The reverse, for writing a job: path (absolute, or relative to the working directory) as the job
// at jobPath holds it: relative for a file in the job's folder or below, absolute for any other.
std::string PathForJob(const std::string& jobPath, const std::string& path);

// Whether serial_store names a database (a URL such as postgresql://...) rather than a file.
bool IsStoreUrl(const std::string& store);

// "BUS/DEVICE" in any padding ("1/4", "001/004") as the bus walk names it ("001/004"); false when
// text is no such place.
bool NormaliseLocation(const std::string& text, std::string& location);

// A SHA-256 as 64 hexadecimal digits in either case, as 64 lowercase ones; false for any other text.
bool NormaliseSha256(const std::string& text, std::string& sha256);

// The SHA-256 of the file's bytes, as 64 lowercase hexadecimal digits. False with errno's reason in
// systemError (EFBIG for a file over 64 MiB) when it cannot be read.
bool FileSha256(const std::string& path, std::string& hex, int& systemError);

// The command line of veltro51-cli that burns as the job says (the chip, burn FIRMWARE, the pinned
// SHA-256, lock, serial numbers and store, log), with the job's paths as the program opens them: what
// a bench hands each worker, so that every socket burns the job as it was read, not the file as it
// may be later. The sockets are the bench's and are left out; a watch is --all --watch, which each
// worker makes its own socket's.
std::vector<std::string> JobBurnArguments(const Job& job, const std::string& jobPath);

// The job's firmware as a burn loads it: read, checked against the job's SHA-256, and loaded within
// the flash of the job's chip (the largest chip's when the job names none).
struct JobFirmware {
    bool ok = false;
    std::string path;   // as opened (ResolveJobPath)
    uint32_t crc32 = 0; // of the image within that flash size, as the command line prints it
    uint16_t sum16 = 0;
    int32_t size = 0;    // the bytes the checksums cover
    std::string message; // the load's failures, one a line, when not ok
};
JobFirmware LoadJobFirmware(const Job& job, const std::string& jobPath);
