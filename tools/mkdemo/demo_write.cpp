// Writing the demo tables as a Jet 4 database.
#include "db/jet/writer.h"
#include "tools/mkdemo/demo_model.h"

namespace ringolan::demo {

void write_demo(const std::vector<DemoTable>& tables, const std::filesystem::path& target) {
    jet::DatabaseWriter db;
    for (const auto& t : tables) {
        auto& tw = db.add_table(t.name, t.columns);
        for (const auto& r : t.rows) tw.add_row(r);
    }
    db.save(target);
}

DemoSummary write_demo(const DemoOptions& options, const std::filesystem::path& target) {
    const Model m = build_model(options);
    jet::DatabaseWriter db;
    DemoSummary summary;
    for (int t = 0; t < kTableCount; ++t) {
        auto& tw = db.add_table(table_name(t), table_columns(t));
        emit_rows(m, t, [&](const jet::Row& r) { tw.add_row(r); });
        ++summary.tables;
        summary.rows += tw.row_count();
    }
    db.save(target);
    summary.bytes = std::filesystem::file_size(target);
    return summary;
}

}  // namespace ringolan::demo
