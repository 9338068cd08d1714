#include "ops/ImageSource.h"

#include "chips/ChipCatalogue.h"
#include "image/Checksum.h"
#include "ops/FileCommands.h"
#include "ops/Format.h"
#include "ops/Texts.h"

namespace {

// There is no window to scroll or title.
class CNoView : public IDocumentView {
public:
    void SetTitle(const std::string&) override {}
    void ScrollToTop() override {}
    void Invalidate(bool) override {}
};

} // namespace

bool CFileImageSource::Load(int32_t size, IOperationPort& port) {
    m_buffer = FirmwareBuffer{};
    m_buffer.m_imageSize = size;
    CNoView view;
    const FileResult result = OpenFirmwareFile(m_path, m_buffer, port, view);
    m_loaded = result.ok;
    m_systemError = result.ok ? 0 : result.systemError;
    if (m_loaded) {
        const auto bytes = static_cast<size_t>(size);
        port.Row(RowKind::Information, FormatText(ROW_CHECKSUMS, Crc32(m_buffer.m_image.data(), bytes),
                                                  unsigned{Sum16(m_buffer.m_image.data(), bytes)}, size));
    }
    return m_loaded;
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
    image = m_buffer.m_image.data();
    lastAddress = size - 1;
    return true;
}
