// Crc16: the 16-bit check of the block stream and of the password, polynomial
// 0x8005, most significant bit first, in augmented form: message bits are
// shifted into the register. Feeding a message and two zero bytes leaves its
// CRC-16/UMTS; feeding block data and its check bytes (high first) leaves 0.
#pragma once

#include <stdint.h>

inline constexpr uint32_t kCrcPolynomial = 0x18005;  // x^16 + x^15 + x^2 + 1

inline constexpr uint16_t Crc16Update(uint16_t crc, uint8_t byte) {
  uint32_t reg = crc;
  for (int bit = 7; bit >= 0; --bit) {
    reg = (reg << 1) | ((byte >> bit) & 1u);
    if (reg & 0x10000u) reg ^= kCrcPolynomial;
  }
  return static_cast<uint16_t>(reg);
}

// Feeding a byte b shifts the register left by 8 with b below and reduces the
// top byte h that left it: the table holds (h * x^16) mod the polynomial, which
// is h fed through two zero bytes.
struct Crc16Table {
  uint16_t Entry[256];
};
inline constexpr Crc16Table MakeCrc16Table() {
  Crc16Table t{};
  for (int32_t h = 0; h < 256; ++h)
    t.Entry[h] = Crc16Update(Crc16Update(static_cast<uint16_t>(h), 0), 0);
  return t;
}
inline constexpr Crc16Table kCrc16Table = MakeCrc16Table();

inline uint16_t Crc16UpdateByTable(uint16_t crc, uint8_t byte) {
  return static_cast<uint16_t>(kCrc16Table.Entry[crc >> 8] ^ (crc << 8) ^ byte);
}

// The register after feeding count bytes into crc.
inline uint16_t Crc16Feed(uint16_t crc, const uint8_t* data, int32_t count) {
  for (int32_t i = 0; i < count; ++i) crc = Crc16UpdateByTable(crc, data[i]);
  return crc;
}

// CRC-16/UMTS of a message: the message and two zero bytes fed from 0.
inline uint16_t Crc16Of(const uint8_t* data, int32_t count) {
  return Crc16Update(Crc16Update(Crc16Feed(0, data, count), 0), 0);
}
