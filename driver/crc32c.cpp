#include "driver/crc32c.h"

#include <cstring>

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define VX_CRC32C_HW 1
#include <nmmintrin.h>
#endif

namespace vexadin {

namespace {

struct Tables {
    uint32_t t[8][256];
    Tables()
    {
        for (uint32_t i = 0; i < 256; ++i) {
            uint32_t c = i;
            for (int k = 0; k < 8; ++k)
                c = (c & 1) ? (c >> 1) ^ 0x82F63B78u : c >> 1;
            t[0][i] = c;
        }
        for (uint32_t i = 0; i < 256; ++i)
            for (int s = 1; s < 8; ++s)
                t[s][i] = (t[s - 1][i] >> 8) ^ t[0][t[s - 1][i] & 0xff];
    }
};

const Tables &tables()
{
    static const Tables tab;
    return tab;
}

uint32_t crcSoftware(const uint8_t *p, size_t n, uint32_t c)
{
    const Tables &T = tables();
    while (n && (reinterpret_cast<uintptr_t>(p) & 7)) {
        c = T.t[0][(c ^ *p++) & 0xff] ^ (c >> 8);
        --n;
    }
    while (n >= 8) {
        uint64_t w;
        std::memcpy(&w, p, 8);
        w ^= c; // little-endian hosts only (the format is little-endian)
        c = T.t[7][w & 0xff] ^ T.t[6][(w >> 8) & 0xff] ^ T.t[5][(w >> 16) & 0xff] ^
            T.t[4][(w >> 24) & 0xff] ^ T.t[3][(w >> 32) & 0xff] ^ T.t[2][(w >> 40) & 0xff] ^
            T.t[1][(w >> 48) & 0xff] ^ T.t[0][w >> 56];
        p += 8;
        n -= 8;
    }
    while (n--)
        c = T.t[0][(c ^ *p++) & 0xff] ^ (c >> 8);
    return c;
}

#ifdef VX_CRC32C_HW
__attribute__((target("sse4.2"))) uint32_t crcHardware(const uint8_t *p, size_t n, uint32_t c)
{
    uint64_t c64 = c;
    while (n >= 8) {
        uint64_t w;
        std::memcpy(&w, p, 8);
        c64 = _mm_crc32_u64(c64, w);
        p += 8;
        n -= 8;
    }
    uint32_t c32 = static_cast<uint32_t>(c64);
    while (n--)
        c32 = _mm_crc32_u8(c32, *p++);
    return c32;
}

bool haveHardware()
{
    static const bool have = __builtin_cpu_supports("sse4.2");
    return have;
}
#endif

} // namespace

uint32_t crc32c(const void *data, size_t size, uint32_t crc)
{
    const auto *p = static_cast<const uint8_t *>(data);
    uint32_t c = ~crc;
#ifdef VX_CRC32C_HW
    if (haveHardware())
        return ~crcHardware(p, size, c);
#endif
    return ~crcSoftware(p, size, c);
}

} // namespace vexadin
