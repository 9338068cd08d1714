#include "ops/ImageSource.h"

#include <algorithm>

#include "chips/ChipCatalogue.h"
#include "image/Checksum.h"
#include "ops/FileCommands.h"
#include "ops/Format.h"
#include "ops/Job.h"
#include "ops/Texts.h"

bool CFileImageSource::Load(int32_t size, IOperationPort& port) {
    m_buffer = FirmwareBuffer{};
    m_buffer.m_imageSize = size;
    if (!m_pinnedSha256.empty()) {
        std::string fileSha256;
        int systemError = 0;
        if (!FileSha256(m_path, fileSha256, systemError)) {
            // The load below names the file and the reason; the bytes it read were never checked.
            CNoView view;
            OpenFirmwareFile(m_path, m_buffer, port, view);
            m_loaded = false;
            m_systemError = systemError;
            return false;
        }
        if (fileSha256 != m_pinnedSha256) {
            port.Message(
                FormatText(MSG_FIRMWARE_REFUSED, m_path.c_str(), fileSha256.c_str(), m_pinnedSha256.c_str()),
                MsgIcon::Error);
            m_loaded = false;
            m_systemError = 0;
            return false;
        }
    }
    CNoView view;
    const FileResult result = OpenFirmwareFile(m_path, m_buffer, port, view);
    m_loaded = result.ok;
    m_systemError = result.ok ? 0 : result.systemError;
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
            report.failure = "cannot load " + m_path;
            return false;
        }
    }
    lastAddress = size - 1;
    if (!m_serial) {
        image = m_buffer.m_image.data();
        return true;
    }
    // Checked before a number is taken, so that a field that cannot be written spends none.
    std::string error;
    uint64_t number = 0;
    m_numbered = m_buffer;
    if (!SerialFieldFits(error) || !TakeSerialNumber(m_serialPath, m_serialSpec, number, error, m_abort) ||
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
    m_serial = true;
    m_abort = abort;
    m_serialSpec = spec;
    m_serialPath = path;
    m_serialForce = force;
}

bool CFileImageSource::SerialFieldFits(std::string& error) const {
    return !m_serial || CheckSerialField(m_serialSpec, m_buffer.m_imageSize, m_buffer.m_image.data(),
                                         m_serialForce, error);
}
