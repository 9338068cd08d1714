#pragma once
// The view's side of the device commands: what Write Device, Read Flash, Set Lock Bits and
// Programming Speed do around their dialogs. Each runs its dialog modally, without a parent (the
// main window owns it), on the user-interface thread.

#include "image/FirmwareBuffer.h"

// Copies the image's first m_imageSize bytes and the lock settings into a new burn dialog and runs it.
void WriteDeviceCommand(const FirmwareBuffer& buffer, bool autoLock, int lockMode);

// Reads the chip's flash (the image bound's length) in its dialog. Only a read that ended with every
// block read reaches the image, after "Flash Read Success"; otherwise "Error : No Data Read !!!" and the
// image is untouched. Bound, source file and title stay as they are; the caller repaints.
void ReadFlashCommand(FirmwareBuffer& buffer);

// Edits the lock settings in the Lock Bits dialog; they are taken back however the dialog ended.
void LockBitsCommand(bool& autoLock, int& lockMode);

// The Programming Speed dialog; its result is not used.
void ProgrammingSpeedCommand();

// True for the four commands above (Read Flash, Write Device, Set Lock Bits, Programming Speed), whose
// dialogs are modal: a test that only follows the commands' routing keeps them from running.
bool IsDeviceCommand(int id);
