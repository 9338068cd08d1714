#pragma once
// Checksums of an image, as release notes quote them.

#include <cstddef>
#include <cstdint>

// The CRC-32 of zlib and PKZIP (reflected polynomial 0xEDB88320, initial and final 0xFFFFFFFF).
uint32_t Crc32(const uint8_t* data, size_t size);
// The sum of the bytes, modulo 65536.
uint16_t Sum16(const uint8_t* data, size_t size);
