#pragma once
// CRC-16/XMODEM: polynomial 0x1021, initial value 0, not reflected, no final XOR. The check value
// of every firmware file. The program itself never computes it; the build check, the
// demonstration image tool, the simulated loader and the tests do.
#include <cstddef>
#include <cstdint>

constexpr std::uint16_t Crc16Xmodem(const std::uint8_t* data, std::size_t size, std::uint16_t crc = 0) {
  for (std::size_t i = 0; i < size; ++i) {
    crc ^= static_cast<std::uint16_t>(data[i] << 8);
    for (int bit = 0; bit < 8; ++bit) crc = static_cast<std::uint16_t>((crc & 0x8000) ? (crc << 1) ^ 0x1021 : crc << 1);
  }
  return crc;
}
