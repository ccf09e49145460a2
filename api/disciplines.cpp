#include "api/disciplines.h"

#include "api/json_values.h"
#include "db/query/query.h"

namespace ringolan::api {

std::vector<std::string> discipline_names(const db::Snapshot& snapshot) {
    std::vector<std::string> names;
    if (!has_table(snapshot, "wettk")) return names;
    db::Query q;
    q.set_command("SELECT Bezeichnung FROM wettk");
    q.open(snapshot);
    for (; !q.at_end(); q.next())
        if (!q.field("Bezeichnung").is_null()) names.push_back(q.field("Bezeichnung").as_text());
    return names;
}

std::string discipline_of(std::string_view title, const std::vector<std::string>& names) {
    std::string_view best;
    for (const std::string& name : names)
        if (!name.empty() && name.size() > best.size() && title.starts_with(name)) best = name;
    if (!best.empty()) return std::string(best);
    return std::string(title.substr(0, title.find(" - ")));
}

}  // namespace ringolan::api
