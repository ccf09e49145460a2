// Decoding of one field of a row that libmdb has located (internal to ringolan_mdbread).
#pragma once

// glib must come first: mdbtools.h includes it inside extern "C".
#include <glib.h>
#include <mdbtools.h>

#include <cstddef>
#include <string>

#include "db/jet/value.h"

namespace ringolan::mdbread::detail {

// Jet 4 text (UCS-2LE, or compressed when it starts with FF FE) to UTF-8.
std::string jet4_text_to_utf8(const unsigned char* p, size_t n);

// Lower-case hex of n bytes.
std::string to_hex(const unsigned char* p, size_t n);

// The bytes of a memo or OLE value whose 12-byte header occupies size bytes at
// mdb->pg_buf[start], following long-value rows through libmdb. Leaves mdb->pg_buf as it was.
// Throws std::runtime_error on a damaged header or chain.
std::string read_long_value(MdbHandle* mdb, int start, int size);

// The value of field f (cracked from the row in mdb->pg_buf) of column col.
// Throws std::runtime_error (without file or table context) on damaged data.
jet::Value decode_field(MdbHandle* mdb, const MdbColumn& col, const MdbField& f);

}  // namespace ringolan::mdbread::detail
