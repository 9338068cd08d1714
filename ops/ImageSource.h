#pragma once
// The command line's image for a chip: FILE, loaded as Open HEX File loads it, within the flash size
// of the chip in the socket, once the chip is known. The same image serves every further chip of
// that size; a chip of another size loads the file again within its own. With a serial number, each
// chip gets the next number of the serial file in its own copy of the image, taken and made durable
// before the chip is erased, so that no number is ever given to two chips.

#include <cstdint>
#include <memory>
#include <string>

#include "image/FileKind.h"
#include "image/FirmwareBuffer.h"
#include "ops/Burn.h"
#include "ops/Serial.h"

class CFileImageSource : public IChipImageSource {
public:
    explicit CFileImageSource(std::string path) : m_path(std::move(path)) {}

    // Loads the file (its messages through port; the checksums of the image as an information row)
    // unless it is loaded for this size already. chip -1 keeps the size of the last load.
    bool PrepareChip(int chip, CycleReport& report, IOperationPort& port, const uint8_t*& image,
                     int32_t& lastAddress) override;

    // Loads the file within size bytes now, as PrepareChip does.
    bool Load(int32_t size, IOperationPort& port);
    // Within the flash size of catalogue chip chip; -1: the largest, where any chip may come.
    bool LoadForChip(int chip, IOperationPort& port);

    // How an Intel HEX file is read: strictly by default (checksums, extended addresses, the line
    // of a failure told); lenient: exactly as the desktop application's Open reads it.
    void SetLenient(bool lenient) { m_lenient = lenient; }
    // The reader for a file whose name tells none (--format); FileKind::None: by the name.
    void SetKind(FileKind kind) { m_kind = kind; }
    // The file's contents, read once before (standard input): every load reads these, and the
    // messages call the file name.
    void SetContents(std::string contents, std::string name);

    // Every chip from now on gets a number of the serial file at path. force: the field may cover
    // bytes of the file that are not 0xFF. abort (when given) ends a wait for the serial file's lock.
    void SetSerial(const SerialSpec& spec, const std::string& path, bool force,
                   const std::atomic<int32_t>* abort = nullptr);
    // The same with numbers from store (kept by the caller, alive while this source is used).
    void SetSerialStore(const SerialSpec& spec, ISerialStore& store, bool force,
                        const std::atomic<int32_t>* abort = nullptr);
    // Makes the store ready (its lock, its connection) before the target is powered.
    bool BeforePower(CycleReport& report, IOperationPort& port) override;
    // Whether the serial field fits the loaded image (its flash size, and the file's data unless
    // forced); false with the reason in error.
    bool SerialFieldFits(std::string& error) const;

    // Every load from now on first checks that the file's bytes have this SHA-256 (64 lowercase
    // hexadecimal digits), and refuses a file that has another, naming both: the firmware a job pins.
    // The file is read again for every load, so a file changed while a line runs is refused too.
    void PinSha256(const std::string& sha256) { m_pinnedSha256 = sha256; }

    // Of the image as loaded, before a serial number went into it.
    const std::string& Sha256() const { return m_sha256; }
    uint32_t Crc() const { return m_crc32; }
    uint16_t Sum() const { return m_sum16; }

    const std::string& Path() const { return m_path; }
    bool Loaded() const { return m_loaded; }
    // The next chip loads the file again, so that its pin is checked again: a watch runs for hours.
    void LoadAgain() { m_loaded = false; }
    // The image as loaded, bytes 0..Size()-1.
    const FirmwareBuffer& Image() const { return m_buffer; }
    int32_t Size() const { return m_buffer.m_imageSize; }
    // The system's reason when the last load failed for want of the file, 0 otherwise.
    int SystemError() const { return m_systemError; }

private:
    bool LoadOwn(IOperationPort& port);

    std::string m_path;
    bool m_lenient = false;
    FileKind m_kind = FileKind::None;
    bool m_hasContents = false;
    std::string m_contents;
    std::string m_name; // how messages call the contents
    FirmwareBuffer m_buffer;
    bool m_loaded = false;
    int m_systemError = 0;
    std::string m_sha256;
    std::string m_pinnedSha256;
    uint32_t m_crc32 = 0;
    uint16_t m_sum16 = 0;
    bool m_serial = false;
    SerialSpec m_serialSpec;
    std::unique_ptr<ISerialStore> m_ownStore;
    ISerialStore* m_store = nullptr;
    bool m_serialForce = false;
    const std::atomic<int32_t>* m_abort = nullptr;
    FirmwareBuffer m_numbered; // the image with this chip's number in it
};
