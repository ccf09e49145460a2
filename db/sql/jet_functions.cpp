// Collation JET and like() for SQLite connections.
//
// Jet's General sort order compares text the way the German Windows locale does with letter
// case ignored: umlauts sort with their base letter but are not equal to it ("Muller" <
// "Müller" < "Mullers", and "Müller" <> "Muller"), and "ß" is equal to "ss" ("Weiß" = "Weiss").
// An ICU collator at secondary strength gives this: case is a tertiary difference (ignored),
// accents are secondary (kept). German's standard (dictionary) order is used, not the
// phone-book order that would sort "ä" as "ae". That order is ICU's root order, which makes
// "ß" a secondary difference from "ss"; a one-line tailoring turns it into a tertiary one.
#include "db/sql/jet_functions.h"

#include "common/cp1252.h"
#include "common/error.h"

#include <unicode/ucol.h>
#include <unicode/uchar.h>
#include <unicode/utf8.h>

#include <algorithm>
#include <cstring>
#include <stdexcept>
#include <string>

namespace ringolan::db {
namespace {

UCollator* open_german_collator() {
    // German's standard order is the root order; "ß" is tailored to a tertiary variant of "ss"
    // (in the root order it differs at the secondary level).
    static const UChar rules[] = u"&ss<<<\u00DF";
    UErrorCode status = U_ZERO_ERROR;
    UParseError parse_error;
    UCollator* c = ucol_openRules(rules, -1, UCOL_DEFAULT, UCOL_SECONDARY, &parse_error, &status);
    if (U_FAILURE(status)) throw Error(text::utf8_to_cp1252("ICU: Kollation nicht verfügbar: ") + u_errorName(status));
    return c;
}

// The collator every connection clones; built once.
UCollator* prototype() {
    static UCollator* const p = open_german_collator();
    return p;
}

bool digits_only(const void* text, int n) {
    const auto* s = static_cast<const unsigned char*>(text);
    for (int i = 0; i < n; ++i)
        if (s[i] < '0' || s[i] > '9') return false;
    return true;
}

// No shortcut for ASCII text in general: ICU's own Latin fast path sorts 50,000 ASCII names as
// fast as a rank table did (measured). Texts of digits alone (club numbers) are compared by
// their bytes: digits have ascending weights and nothing else, which is ICU's order too.
int collate(void* arg, int na, const void* a, int nb, const void* b) {
    if (digits_only(a, na) && digits_only(b, nb)) {
        const int c = std::memcmp(a, b, static_cast<size_t>(std::min(na, nb)));
        return c != 0 ? (c < 0 ? -1 : 1) : (na > nb) - (na < nb);
    }
    auto* collator = static_cast<UCollator*>(arg);
    UErrorCode status = U_ZERO_ERROR;
    const UCollationResult r = ucol_strcollUTF8(collator, static_cast<const char*>(a), na, static_cast<const char*>(b), nb, &status);
    if (U_FAILURE(status)) {  // malformed UTF-8 cannot come from the snapshot; keep a total order anyway
        const int c = std::memcmp(a, b, static_cast<size_t>(std::min(na, nb)));
        return c != 0 ? c : na - nb;
    }
    return r;
}

void destroy_collator(void* arg) { ucol_close(static_cast<UCollator*>(arg)); }

// Next code point of UTF-8 text, letter case folded (simple folding: one code point each).
UChar32 next_folded(const unsigned char* s, int32_t& i, int32_t n) {
    UChar32 c;
    U8_NEXT(s, i, n, c);
    if (c < 0) return 0xFFFD;
    if (c < 0x80) return (c >= 'A' && c <= 'Z') ? c + 32 : c;
    return u_foldCase(c, U_FOLD_CASE_DEFAULT);
}

// Jet LIKE: "%" any run of characters (also none), "_" exactly one character, everything else
// itself with letter case ignored. Greedy with backtracking to the last "%": O(n*m) at worst.
bool like_match(const unsigned char* p, int32_t np, const unsigned char* t, int32_t nt) {
    int32_t pi = 0, ti = 0;
    int32_t star_p = -1, star_t = 0;
    while (ti < nt) {
        if (pi < np) {
            int32_t pn = pi;
            const UChar32 pc = next_folded(p, pn, np);
            if (pc == '%') {
                star_p = pi = pn;
                star_t = ti;
                continue;
            }
            int32_t tn = ti;
            const UChar32 tc = next_folded(t, tn, nt);
            if (pc == '_' || pc == tc) {
                pi = pn;
                ti = tn;
                continue;
            }
        }
        if (star_p < 0) return false;
        // let the last "%" swallow one more character
        pi = star_p;
        next_folded(t, star_t, nt);
        ti = star_t;
    }
    while (pi < np) {
        int32_t pn = pi;
        if (next_folded(p, pn, np) != '%') return false;
        pi = pn;
    }
    return true;
}

void like_function(sqlite3_context* ctx, int, sqlite3_value** argv) {
    if (sqlite3_value_type(argv[0]) == SQLITE_NULL || sqlite3_value_type(argv[1]) == SQLITE_NULL) {
        sqlite3_result_null(ctx);
        return;
    }
    const auto* pattern = sqlite3_value_text(argv[0]);
    const int np = sqlite3_value_bytes(argv[0]);
    const auto* text = sqlite3_value_text(argv[1]);
    const int nt = sqlite3_value_bytes(argv[1]);
    if (!pattern || !text) {
        sqlite3_result_error_nomem(ctx);
        return;
    }
    sqlite3_result_int(ctx, like_match(pattern, np, text, nt) ? 1 : 0);
}

void like_with_escape(sqlite3_context* ctx, int, sqlite3_value**) {
    sqlite3_result_error(ctx, "LIKE mit ESCAPE wird nicht unterstützt", -1);
}

}  // namespace

void register_jet_functions(sqlite3* db) {
    // A misspelled column in double quotes must stay an error, never turn into a string.
    sqlite3_db_config(db, SQLITE_DBCONFIG_DQS_DML, 0, nullptr);
    sqlite3_db_config(db, SQLITE_DBCONFIG_DQS_DDL, 0, nullptr);

    UErrorCode status = U_ZERO_ERROR;
    UCollator* clone = ucol_clone(prototype(), &status);
    if (U_FAILURE(status)) throw Error(std::string("ICU: Kollation nicht kopierbar: ") + u_errorName(status));
    int rc = sqlite3_create_collation_v2(db, kJetCollation, SQLITE_UTF8, clone, collate, destroy_collator);
    if (rc != SQLITE_OK) ucol_close(clone);  // SQLite does not call the destructor on failure
    if (rc != SQLITE_OK) throw Error(std::string("SQLite: Kollation JET: ") + sqlite3_errmsg(db));
    const int flags = SQLITE_UTF8 | SQLITE_DETERMINISTIC | SQLITE_INNOCUOUS;
    rc = sqlite3_create_function_v2(db, "like", 2, flags, nullptr, like_function, nullptr, nullptr, nullptr);
    if (rc == SQLITE_OK)
        rc = sqlite3_create_function_v2(db, "like", 3, flags, nullptr, like_with_escape, nullptr, nullptr, nullptr);
    if (rc != SQLITE_OK) throw Error(std::string("SQLite: Funktion like: ") + sqlite3_errmsg(db));
}

}  // namespace ringolan::db
