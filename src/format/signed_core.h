// Where signing a Windows distributable writes into its core. Authenticode
// appends a certificate table to the file (after zero bytes up to a multiple
// of 8) and rewrites two fields of the core's PE header: the optional
// header's CheckSum and the certificate-table entry of its data directory
// (file offset and size of the table). Both lie in the core image, history
// slot 0, so the writer keeps coded data from depending on them, and the size
// check finds the appended table through the entry. Found through the image's
// own headers, PE32 and PE32+ alike; every offset is checked against the image.
#pragma once

#include <stdint.h>

#include "format/format.h"

inline constexpr int32_t kCheckSumBytes = 4;          // the optional header's CheckSum
inline constexpr int32_t kCertificateEntryBytes = 8;  // file offset, then size of the table
inline constexpr int32_t kCertificateAlign = 8;       // the table starts at a multiple of this

struct SignedFields {
  int32_t CheckSum;          // image offset of the CheckSum; 0 when the image is no PE file
  int32_t CertificateEntry;  // image offset of the certificate-table entry
};

// The two fields of the kCoreSize-byte image, or {0, 0} when it has no PE
// header. A header whose data directory has no certificate entry (fewer than
// 5 entries, or an optional header too short to hold the fifth) has nothing
// to find: signing tools refuse such a file, so its excess is refused too.
inline SignedFields FindSignedFields(const uint8_t* image) {
  SignedFields none = {0, 0};
  if (image[0] != 'M' || image[1] != 'Z') return none;
  // "PE\0\0", the 20-byte file header (SizeOfOptionalHeader at 20), then the
  // optional header; the farthest byte used is the end of the PE32+ entry,
  // 24 + 112 + 5 * 8 bytes on.
  uint32_t header = LittleEndian32(image + 0x3C);
  if (header > static_cast<uint32_t>(kCoreSize - 176) || LittleEndian32(image + header) != 0x4550)
    return none;
  const uint8_t* optional = image + header + 24;
  uint32_t magic = optional[0] | optional[1] << 8;
  uint32_t directory = magic == 0x10B ? 96 : magic == 0x20B ? 112 : 0;
  // NumberOfRvaAndSizes is the directory's last field before its entries.
  if (directory == 0 || LittleEndian32(optional + directory - 4) < 5 ||
      static_cast<uint32_t>(image[header + 20] | image[header + 21] << 8) < directory + 40)
    return none;
  return {static_cast<int32_t>(header + 24 + 64),
          static_cast<int32_t>(header + 24 + directory + 32)};
}
