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

inline constexpr uint32_t kHeaderMaskStart = 0x18;
inline constexpr uint32_t kHeaderMaskLength = 128;

}  // namespace ringolan::jet
