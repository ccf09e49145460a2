#include <cctype>

#include "site/store.h"

namespace ringolan::site {

namespace {

bool valid_stream(std::string_view s) {
    if (s.empty() || s.size() > 64) return false;
    for (const char c : s)
        if (!(std::isalnum(static_cast<unsigned char>(c)) || c == '-')) return false;
    return true;
}

}  // namespace

void check_batch(const ChangeBatch& batch) {
    if (!valid_stream(batch.stream) || batch.base < 0 || batch.sequence != batch.base + 1)
        throw StoreError("malformed batch: stream " + batch.stream + ", base " + std::to_string(batch.base) +
                         ", sequence " + std::to_string(batch.sequence));
}

void for_each_insert(const TableChange& change, const std::function<void(const StatementView&)>& sink) {
    auto check = [&](const StatementView& v) {
        if (v.code != change.code)
            throw DumpError(v.line, "row of table \"" + std::string(v.code) + "\" under \"" + change.code + "\"");
    };
    StatementView view;
    for (const Statement& s : change.inserts) {
        view.code = s.code;
        view.line = s.line;
        view.values.clear();
        for (const Value& value : s.values) view.values.push_back({value.kind, value.text, false});
        check(view);
        sink(view);
    }
    parse_text_views(change.insert_lines, [&](const StatementView& v) {
        check(v);
        sink(v);
    });
}

ChangeOutcome judge_batch(const ChangeBatch& batch, const LiveState& state) {
    if (batch.stream == state.stream && batch.sequence == state.sequence) return ChangeOutcome::duplicate;
    if (batch.base == 0 && batch.stream != state.stream) return ChangeOutcome::applied;
    if (batch.base != 0 && batch.stream == state.stream && batch.base == state.sequence) return ChangeOutcome::applied;
    return ChangeOutcome::conflict;
}

}  // namespace ringolan::site
