#include <exception>

#include "common/cp1252.h"
#include "db/jet/inplace.h"
#include "upload/upload_run.h"

namespace ringolan::upload {

ItdatumResult itdatum_in_place(const std::filesystem::path& mdb, const std::string& text) {
    try {
        const jet::InPlaceResult r = jet::write_itdatum(mdb, text::cp1252_to_utf8(text));
        return {r.written(), r.reason};
    } catch (const std::exception& e) {
        return {false, e.what()};
    }
}

}  // namespace ringolan::upload
