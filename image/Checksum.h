#pragma once
// Checksums of an image, as people compare them with release notes and as the production log
// records them. Each covers exactly the bytes given: callers pass the image within the chip's flash
// size, so that the same file gives the same figures for the same chip.

#include <cstddef>
#include <cstdint>
#include <string>

// The CRC-32 of zlib, PKZIP and PNG (reflected polynomial 0xEDB88320, initial value and final XOR
// 0xFFFFFFFF): "123456789" gives 0xCBF43926.
uint32_t Crc32(const uint8_t* data, size_t size);

// The sum of the bytes modulo 65536.
uint16_t Sum16(const uint8_t* data, size_t size);

// SHA-256 (FIPS 180-4) as 64 lowercase hexadecimal digits.
std::string Sha256Hex(const uint8_t* data, size_t size);
