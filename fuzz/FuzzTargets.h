#pragma once
// The fuzz targets' bodies. Each takes one input, runs it through the image code as the desktop
// program and the command-line tool do, and checks what must hold whatever the input: the result,
// every message (text and icon) and its order, the image, the remembered file. They are built into
// the libFuzzer programs (fuzz/, clang) and into the regression test (tests/hardening), which replays
// the committed corpus with the ordinary build. Memory errors are the sanitizers' to catch.
//
// Each returns an empty string when everything held, otherwise what did not. Inputs:
//   intelhex    byte 0 picks the chip (the image bound); the rest is the file given to ReadIntelHex.
//   binary      byte 0 picks the chip; the rest is the file given to LoadBinaryFile.
//   openreload  byte 0 the chip at Open, byte 1 the file name's extension, byte 2 the chip at Reload
//               and what happened to the file meanwhile, byte 3 where the rest splits into the file
//               as opened and the file as reloaded.
// Files live in a scratch folder of the process, removed when it exits. One thread at a time.

#include <cstddef>
#include <cstdint>
#include <string>

std::string FuzzIntelHex(const uint8_t* data, size_t size);
std::string FuzzBinary(const uint8_t* data, size_t size);
std::string FuzzOpenReload(const uint8_t* data, size_t size);
