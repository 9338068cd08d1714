#pragma once
// Serial numbers for a production line: a number written into each chip's image before the chip is
// written, taken from a serial file that several processes (one per socket) share.
//
// The promise: no number is ever handed out twice, also when a process is killed at any moment, the
// machine loses power, or several processes take numbers from one file. A number is made durable as
// used (the file says the next one, flushed to the disk, the rename flushed too) before it is
// returned, so a chip that fails after that keeps its number out of use. The cost is a gap, never a
// repeat.
//
// The serial file, human-readable and meant to be edited by hand between runs:
//     # Veltro 51 serial numbers: the number the next chip gets.
//     next=124
// Blank lines and lines starting with '#' are comments; exactly one other line gives the next number,
// as "next=N" or just "N" (decimal). A file that is missing starts at the spec's start; one that is
// there but cannot be read or understood is an error, never a silent restart.
//
// The lock: an exclusive flock on a file beside the serial file, named as it with ".lock" appended
// (after symbolic links are followed, so every name of the file meets the same lock). It is never
// removed and never written; the serial file itself is replaced on every number, so a lock on it
// would be lost with its old inode. Processes on one host only (a folder shared over the network is
// not supported).

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

enum class SerialFormat {
    LittleEndian, // "leN": N = 1..4 bytes, binary, lowest byte first
    BigEndian,    // "beN": N = 1..4 bytes, binary, highest byte first
    Decimal,      // "decN": N = 1..10 ASCII digits, leading zeros, highest digit first
    Bcd,          // "bcdN": N = 1..5 bytes of packed BCD, two digits a byte, highest digits first
};

// What --serial ADDR[,START[,STEP[,FORMAT]]] asks for. Numbers are decimal or 0x-hexadecimal; an
// empty START or STEP takes its default ("0x7FF0,,,dec6"). FORMAT is case-insensitive; default le2.
struct SerialSpec {
    uint32_t address = 0; // flash address of the field's first byte
    uint64_t start = 1;   // the first number when the serial file does not exist yet
    uint64_t step = 1;    // added for every number taken; at least 1
    SerialFormat format = SerialFormat::LittleEndian;
    int width = 2; // bytes for le, be and bcd; digits for dec
};

// The bytes the field takes in flash.
int SerialFieldSize(const SerialSpec& spec);
// The largest number given in the field (999999 for dec6 and bcd3). For le and be it is one below
// what the bytes hold (65534 for le2): all bytes 0xFF is what an erased field reads, so that number
// is never given and the numbers are used up before it.
uint64_t SerialMaximum(const SerialSpec& spec);
// The format as ParseSerialSpec reads it: "le2", "dec6", ...
std::string SerialFormatName(const SerialSpec& spec);

// Parses "ADDR[,START[,STEP[,FORMAT]]]". Refuses negative numbers, signs, spaces, overflow, a step of
// 0, a width outside the format's range, extra fields and a start that does not fit the format.
// spec is changed only on success; error says what is wrong.
bool ParseSerialSpec(const std::string& text, SerialSpec& spec, std::string& error);

// The field's bytes for number; false when the number does not fit the format.
bool EncodeSerial(const SerialSpec& spec, uint64_t number, std::vector<uint8_t>& bytes, std::string& error);

// Before anything is written: the field must lie inside the flash (flashSize bytes), and the image's
// bytes there must all be 0xFF (nothing of the file would be overwritten) unless force is set.
// image holds at least flashSize bytes.
bool CheckSerialField(const SerialSpec& spec, int32_t flashSize, const uint8_t* image, bool force,
                      std::string& error);

// Writes the field for number into image (at least flashSize bytes); false, image untouched, when the
// number does not fit or the field is outside the flash.
bool PutSerial(const SerialSpec& spec, uint64_t number, uint8_t* image, int32_t flashSize,
               std::string& error);

// Takes the next number from the serial file at path: under the lock, reads it (a missing file gives
// spec.start), stores number + spec.step durably through the safe replace, and only then returns it.
// False, with nothing taken, when the lock cannot be had, the file cannot be read or understood, the
// number does not fit the format (the numbers are used up) or the file cannot be replaced durably.
// Waits while another process holds the lock (a few milliseconds per number, or as long as a person
// editing the file holds it); abort (when given) ends the wait, and no number is taken once it is set.
// The high-water mark: beside the serial file, named as it with ".high" appended, the highest number
// ever given from it, replaced durably after the serial file. A next number at or below it (the file
// deleted, put back from an old copy, edited down) is refused unless reset is set; reset gives the
// file's number all the same and lowers the mark to it.
bool TakeSerialNumber(const std::string& path, const SerialSpec& spec, uint64_t& number, std::string& error,
                      const std::atomic<int32_t>* abort = nullptr, bool reset = false);

// Called once when a wait for a lock begins, with what is waited for.
using WaitNotice = std::function<void(const std::string& what)>;

// Where the numbers of one series come from: the serial file, or a database (ops/store).
class ISerialStore {
public:
    virtual ~ISerialStore() = default;
    // Before the target is powered: makes the next Take quick (the file's lock held, the connection
    // open), waiting here if another process holds it, with waiting told once. False with a reason;
    // abort ends the wait.
    virtual bool Prepare(std::string& error, const std::atomic<int32_t>* abort,
                         const WaitNotice& waiting) = 0;
    // Takes the next number, durable before it returns; gives back what Prepare held.
    virtual bool Take(const SerialSpec& spec, uint64_t& number, std::string& error,
                      const std::atomic<int32_t>* abort) = 0;
    // Gives back what Prepare held without taking a number.
    virtual void Release() = 0;
    // How the store is shown: the file's name, or the connection without its password.
    virtual std::string Shown() const = 0;
    // The series' name as a record keeps it: the database's series, the serial file's name.
    virtual std::string Series() const { return Shown(); }
};

// The serial file as a store. reset goes on for its first number only (TakeSerialNumber's reset).
class CSerialFileStore : public ISerialStore {
public:
    explicit CSerialFileStore(std::string path, bool reset = false)
        : m_path(std::move(path)), m_reset(reset) {}
    ~CSerialFileStore() override { Release(); }
    bool Prepare(std::string& error, const std::atomic<int32_t>* abort, const WaitNotice& waiting) override;
    bool Take(const SerialSpec& spec, uint64_t& number, std::string& error,
              const std::atomic<int32_t>* abort) override;
    void Release() override;
    std::string Shown() const override { return m_path; }

private:
    std::string m_path;
    bool m_reset;
    int m_lock = -1;
};

// Opens and locks the serial file's lock file (refusing one that is not a regular file, never
// blocking in open), waiting while another process holds it; the locked descriptor in fd.
bool LockSerialFile(const std::string& path, int& fd, std::string& error, const std::atomic<int32_t>* abort,
                    const WaitNotice& waiting = {});

// The serial file's contents for a next number (what TakeSerialNumber writes).
std::string SerialFileText(uint64_t next);
// Reads a serial file's contents; false when they hold no single next number.
bool ParseSerialFile(const std::string& text, uint64_t& next);
