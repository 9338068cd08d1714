#include "ops/dlg/DeviceCommands.h"

#include <algorithm>
#include <memory>
#include <new>

#include "ops/Texts.h"
#include "ops/dlg/BurnDlg.h"
#include "ops/dlg/DialogSupport.h"
#include "ops/dlg/DialogTexts.h"
#include "ops/dlg/LockBitsDlg.h"
#include "ops/dlg/ReadFlashDlg.h"
#include "ops/dlg/SpeedDlg.h"
#include "ops/dlg/AppMessagePort.h"
#include "res/Ids.h"

void WriteDeviceCommand(const FirmwareBuffer& buffer, bool autoLock, int lockMode) {
    std::unique_ptr<CBurnDlg> dlg(new (std::nothrow) CBurnDlg(nullptr));
    if (!dlg) {
        ShowAppMessage(FromCore(MSG_CANNOT_LOAD_DIALOG), AppIcon::Error);
        return;
    }
    dlg->m_autoLock = autoLock;
    dlg->m_lockLevel = lockMode;
    const int size = std::clamp(buffer.m_imageSize, 1, BURN_BUFFER_SIZE);
    g_burnLastAddress = size - 1;
    dlg->CopyImage(buffer.m_image.data(), size);
    dlg->ShowModal();
    // The dialog joins its worker as it goes.
    dlg.reset();
}

void ReadFlashCommand(FirmwareBuffer& buffer) {
    int result = 0;
    {
        CReadFlashDlg dlg(nullptr);
        g_readLength = buffer.m_imageSize;
        result = dlg.ShowModal();
    } // the worker has ended here: the staging buffer is no longer written
    // A dialog that ended any other way than by Close after a complete read leaves the image alone.
    CAppMessagePort messages;
    HandReadToImage(result != 0 && g_readSucceeded.load() == 1, g_readBuffer.data(), buffer, messages);
}

void LockBitsCommand(bool& autoLock, int& lockMode) {
    CLockBitsDlg dlg(nullptr);
    dlg.m_lockAfterBurn = autoLock ? 1 : 0;
    SetBoxesFromMode(dlg, lockMode);
    dlg.ShowModal();
    lockMode = ModeFromBoxes(dlg);
    autoLock = dlg.m_lockAfterBurn != 0;
}

void ProgrammingSpeedCommand() {
    CSpeedDlg dlg(nullptr);
    dlg.ShowModal();
}

bool IsDeviceCommand(int id) {
    return id == ID_READ_FLASH || id == ID_WRITE_DEVICE || id == ID_LOCK_BITS || id == ID_PROGRAMMING_SPEED;
}
