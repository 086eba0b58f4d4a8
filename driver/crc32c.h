#pragma once

#include <cstddef>
#include <cstdint>

namespace vexadin {

// CRC-32C (Castagnoli, reflected polynomial 0x82F63B78), as used by iSCSI and ext4:
// initial value 0xFFFFFFFF, final XOR 0xFFFFFFFF. crc32c("123456789") == 0xE3069283.
// Uses the SSE4.2 instruction when the CPU has it, slicing-by-8 tables otherwise.
// `crc` continues a previous result (pass 0 to start).
uint32_t crc32c(const void *data, size_t size, uint32_t crc = 0);

} // namespace vexadin
