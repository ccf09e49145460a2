// Page 0 of a Jet 4 file: version, masked header region, code page, creation date.
#pragma once

#include "db/jet/page.h"

namespace ringolan::jet {

// RC4 key stream XORed over data (encrypting and decrypting are the same).
void rc4_apply(std::span<const uint8_t> key, std::span<uint8_t> data);

// Fills page 0 for a file without password and with database key 0.
// creation_date: days since 1899-12-30.
void write_header_page(Page& page, double creation_date);

// Decodes the masked region of page 0 in place (for inspection and tests).
void unmask_header_page(Page& page);

// Offsets in page 0.
inline constexpr uint32_t kHeaderSignature = 0x04;    // "Standard Jet DB" and a zero byte
inline constexpr uint32_t kHeaderVersion = 0x14;      // kJetVersion4
inline constexpr uint32_t kHeaderMaskStart = 0x18;    // the masked region, up to 0x98
inline constexpr uint32_t kHeaderMaskLength = 128;
inline constexpr uint32_t kHeaderCodePage = 0x3C;     // u16 (masked)
inline constexpr uint32_t kHeaderDatabaseKey = 0x3E;  // u32 (masked); not 0 when pages are encoded
inline constexpr uint32_t kHeaderPassword = 0x42;     // 40 bytes (masked)
inline constexpr uint32_t kHeaderSortOrder = 0x6E;    // u16 (masked)
inline constexpr uint32_t kHeaderCreated = 0x72;      // double, days since 1899-12-30 (masked)

inline constexpr char kJetSignature[] = "Standard Jet DB";  // 15 characters
inline constexpr uint8_t kJetVersion4 = 0x01;

}  // namespace ringolan::jet
