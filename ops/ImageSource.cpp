#include "ops/ImageSource.h"

#include <algorithm>

#include "chips/ChipCatalogue.h"
#include "image/BinaryFile.h"
#include "image/Checksum.h"
#include "image/IntelHex.h"
#include "image/StrictHex.h"
#include "ops/FileCommands.h"
#include "ops/Format.h"
#include "ops/Job.h"
#include "ops/Texts.h"

void CFileImageSource::SetContents(std::string contents, std::string name) {
    m_hasContents = true;
    m_contents = std::move(contents);
    m_name = std::move(name);
}

// The loads that the desktop's Open does not do: strict Intel HEX, contents read before, a kind that
// the name does not tell. Their messages are those of Open.
bool CFileImageSource::LoadOwn(IOperationPort& port) {
    const FileKind kind = m_kind != FileKind::None ? m_kind : FileKindFromPath(m_path);
    const std::string& name = m_hasContents ? m_name : m_path;
    m_buffer.ClearImage();
    if (kind == FileKind::Binary) {
        bool loaded = false;
        if (!m_hasContents) {
            const FileResult result = LoadBinaryFile(m_path, m_buffer);
            loaded = result.ok;
            m_systemError = result.systemError;
            if (result.message != nullptr)
                port.Message(result.message, MsgIcon::Error);
        } else if (m_contents.empty()) {
            // An empty pipe is a tool before it that failed, not a firmware of 0xFF bytes.
            port.Message(name + ": empty, no firmware was read", MsgIcon::Error);
        } else if (m_contents.size() >
                   static_cast<size_t>(std::clamp(m_buffer.m_imageSize, 0, IMAGE_CAPACITY))) {
            port.Message(MSG_FILE_TOO_LARGE, MsgIcon::Error);
        } else {
            std::copy(m_contents.begin(), m_contents.end(), m_buffer.m_image.begin());
            loaded = true;
        }
        port.Message(loaded ? MSG_BIN_LOADED : MSG_BIN_CANNOT_LOAD,
                     loaded ? MsgIcon::Information : MsgIcon::Error);
        return loaded;
    }
    if (kind != FileKind::IntelHex)
        return false;
    if (m_lenient) {
        // Only contents read before, or a kind the name does not tell, come here: any other file
        // goes through Open itself.
        const FileResult result =
            m_hasContents ? ReadIntelHexText(m_contents, m_buffer) : ReadIntelHex(m_path, m_buffer);
        if (!result.ok) {
            m_systemError = result.systemError;
            if (result.message != nullptr)
                port.Message(result.message, MsgIcon::Error);
            return false;
        }
    } else {
        std::string fileText;
        HexReadResult result;
        if (!m_hasContents)
            result = ReadFirmwareText(m_path, fileText);
        if (m_hasContents || result.ok)
            result = ReadIntelHexStrict(
                m_hasContents ? std::string_view(m_contents) : std::string_view(fileText), m_buffer);
        if (!result.ok) {
            m_systemError = result.systemError;
            // The system's reason follows on a line of its own, as after Open.
            port.Message(result.Describe(name), MsgIcon::Error);
            return false;
        }
    }
    port.Message(MSG_HEX_LOADED, MsgIcon::Information);
    return true;
}

bool CFileImageSource::Load(int32_t size, IOperationPort& port) {
    m_buffer = FirmwareBuffer{};
    m_buffer.m_imageSize = size;
    // A pinned file is checked first; one that cannot be read is loaded all the same for the load's
    // own messages and reason, and fails, since its bytes were never checked.
    bool unchecked = false;
    int hashError = 0;
    if (!m_pinnedSha256.empty()) {
        std::string fileSha256;
        if (m_hasContents)
            fileSha256 = Sha256Hex(reinterpret_cast<const uint8_t*>(m_contents.data()), m_contents.size());
        else
            unchecked = !FileSha256(m_path, fileSha256, hashError);
        if (!unchecked && fileSha256 != m_pinnedSha256) {
            const std::string& name = m_hasContents ? m_name : m_path;
            port.Message(
                FormatText(MSG_FIRMWARE_REFUSED, name.c_str(), fileSha256.c_str(), m_pinnedSha256.c_str()),
                MsgIcon::Error);
            m_loaded = false;
            m_systemError = 0;
            return false;
        }
    }
    m_systemError = 0;
    const bool byOpen = m_lenient && !m_hasContents && m_kind == FileKind::None;
    FileResult result = FileResult::Failure(nullptr);
    if (byOpen) {
        result = OpenFirmwareFile(m_path, m_buffer, port);
        m_systemError = result.ok ? 0 : result.systemError;
    } else {
        result.ok = LoadOwn(port);
    }
    m_loaded = result.ok && !unchecked;
    if (unchecked && m_systemError == 0)
        m_systemError = hashError;
    if (m_loaded) {
        const uint8_t* bytes = m_buffer.m_image.data();
        const auto length = static_cast<size_t>(size);
        m_sha256 = Sha256Hex(bytes, length);
        m_crc32 = Crc32(bytes, length);
        m_sum16 = Sum16(bytes, length);
        port.Row(RowKind::Information, FormatText(ROW_CHECKSUMS, m_crc32, unsigned{m_sum16}, size));
    }
    return m_loaded;
}

bool CFileImageSource::LoadForChip(int chip, IOperationPort& port) {
    int32_t size = 0;
    if (chip >= 0 && chip < CHIP_COUNT)
        size = g_chipCatalogue[static_cast<size_t>(chip)].flashSize;
    else
        for (const ChipInfo& info : g_chipCatalogue)
            size = std::max(size, info.flashSize);
    return Load(size, port);
}

bool CFileImageSource::PrepareChip(int chip, CycleReport& report, IOperationPort& port, const uint8_t*& image,
                                   int32_t& lastAddress) {
    const int32_t size =
        chip >= 0 ? g_chipCatalogue[static_cast<size_t>(chip)].flashSize : m_buffer.m_imageSize;
    if (!m_loaded || size != m_buffer.m_imageSize) {
        if (!Load(size, port)) {
            if (m_serial)
                m_store->Release();
            report.failure = "cannot load " + m_path;
            return false;
        }
    }
    lastAddress = size - 1;
    if (!m_serial) {
        image = m_buffer.m_image.data();
        return true;
    }
    // The store gives back what it held for this cycle on every path, a number taken or not.
    // Checked before a number is taken, so that a field that cannot be written spends none.
    std::string error;
    uint64_t number = 0;
    m_numbered = m_buffer;
    const bool fits = SerialFieldFits(error);
    if (!fits)
        m_store->Release();
    if (!fits || !m_store->Take(m_serialSpec, number, error, m_abort) ||
        !PutSerial(m_serialSpec, number, m_numbered.m_image.data(), size, error)) {
        const std::string row = FormatText(ROW_SERIAL_FAILED, error.c_str());
        port.Row(RowKind::Error, row);
        report.failure = row;
        return false;
    }
    report.serial = static_cast<int64_t>(number);
    port.Row(RowKind::Information, FormatText(ROW_SERIAL, static_cast<unsigned long long>(number)));
    image = m_numbered.m_image.data();
    return true;
}

void CFileImageSource::SetSerial(const SerialSpec& spec, const std::string& path, bool force,
                                 const std::atomic<int32_t>* abort) {
    m_ownStore = std::make_unique<CSerialFileStore>(path);
    SetSerialStore(spec, *m_ownStore, force, abort);
}

void CFileImageSource::SetSerialStore(const SerialSpec& spec, ISerialStore& store, bool force,
                                      const std::atomic<int32_t>* abort) {
    m_serial = true;
    m_abort = abort;
    m_serialSpec = spec;
    m_store = &store;
    m_serialForce = force;
}

bool CFileImageSource::BeforePower(CycleReport& report, IOperationPort& port) {
    if (!m_serial)
        return true;
    std::string error;
    const WaitNotice waiting = [&port](const std::string& what) {
        port.Row(RowKind::Error, FormatText(ROW_WAITING, what.c_str()));
    };
    if (m_store->Prepare(error, m_abort, waiting))
        return true;
    const std::string row = FormatText(ROW_SERIAL_FAILED, error.c_str());
    port.Row(RowKind::Error, row);
    report.failure = row;
    return false;
}

bool CFileImageSource::SerialFieldFits(std::string& error) const {
    return !m_serial || CheckSerialField(m_serialSpec, m_buffer.m_imageSize, m_buffer.m_image.data(),
                                         m_serialForce, error);
}
