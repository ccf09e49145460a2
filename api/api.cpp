// Routing of /api/v1/...: the resource path picks the resource; ids are checked here.
#include "api/api.h"

#include "api/json_values.h"
#include "api/resources.h"

namespace ringolan::api {

namespace {

constexpr std::string_view kUnknown = "Unbekannte Adresse.";

// The rest of `path` behind `prefix` + "/", or nullopt when it does not start so.
std::optional<std::string_view> below(std::string_view path, std::string_view prefix) {
    if (!path.starts_with(prefix) || path.size() <= prefix.size() || path[prefix.size()] != '/') return std::nullopt;
    return path.substr(prefix.size() + 1);
}

// A resource with a numeric id; `what` names the number in the error text.
template <class Resource>
Answer numbered(const db::Snapshot& snapshot, std::string_view segment, std::string_view what, Resource resource) {
    if (segment.find('/') != std::string_view::npos) return error_answer(404, kUnknown);
    const std::optional<int64_t> id = parse_id(segment);
    if (!id)
        return error_answer(400,
                            "Ung\u00fcltige " + std::string(what) + ": erwartet wird eine ganze Zahl ohne Vorzeichen.");
    return resource(snapshot, *id);
}

}  // namespace

Answer answer(const db::Snapshot& snapshot, std::string_view resource, std::string_view query) {
    while (resource.size() > 1 && resource.ends_with('/')) resource.remove_suffix(1);
    if (resource == "/state") return state_resource(snapshot);
    if (resource == "/lists") return lists_resource(snapshot);
    if (resource == "/clubs") return clubs_resource(snapshot);
    if (resource == "/search") return search_resource(snapshot, query);
    if (const auto id = below(resource, "/lists")) return numbered(snapshot, *id, "Listennummer", list_resource);
    if (const auto nr = below(resource, "/shooters")) return numbered(snapshot, *nr, "Startnummer", shooter_resource);
    if (const auto nr = below(resource, "/clubs")) return club_resource(snapshot, *nr);
    return error_answer(404, kUnknown);
}

Answer no_competition() { return error_answer(503, "Keine Wettkampfdatei ge\u00f6ffnet."); }

}  // namespace ringolan::api
