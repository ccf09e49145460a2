#include "api/api.h"

namespace ringolan::api {

Answer answer(const db::Snapshot&, std::string_view, std::string_view) {
    return {404, "{\"error\":\"Unbekannte Adresse.\"}"};
}

Answer no_competition() { return {503, "{\"error\":\"Keine Wettkampfdatei ge\xC3\xB6" "ffnet.\"}"}; }

}  // namespace ringolan::api
