#pragma once
// CRC-32 (IEEE 802.3, as zlib and `crc32` compute it) of a byte run.
#include <cstddef>
#include <cstdint>

uint32_t crc32Of(const uint8_t *data, size_t size);
