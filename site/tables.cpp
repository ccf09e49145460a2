#include "site/tables.h"

#include "common/ascii.h"

namespace ringolan::site {

const std::vector<TableDef>& upload_tables() {
    static const std::vector<TableDef> tables = [] {
        std::vector<std::string_view> sc{"sch_id", "summe"};
        static const char* const shots[] = {"r1", "r2", "r3", "r4", "r5", "r6", "r7", "r8", "r9", "r10",
                                            "t1", "t2", "t3", "t4", "t5", "t6", "t7", "t8", "t9", "t10",
                                            "w1", "w2", "w3", "w4", "w5", "w6", "w7", "w8", "w9", "w10"};
        for (const char* s : shots) sc.emplace_back(s);
        return std::vector<TableDef>{
            {"s", "starter", {"startnr", "nachname", "vorname", "waffe", "vereinsnr", "klasse", "konst"}},
            {"r", "raenge",
             {"startnr", "rang", "erglistid", "haupterg", "einheit", "teilerg", "mid", "e1", "e2", "e3", "e4",
              "e5", "e6", "e7"}},
            {"v", "verein", {"vereinsnr", "name"}},
            {"e", "ergebnis", {"erg_id", "startnr", "dp_id"}},
            {"z", "zuordnung", {}},
            {"sc", "scheiben", std::move(sc)},
            {"w", "wettk", {"dp_id", "bezeichnung", "scheibentyp", "zehnerserien", "teilermessung"}},
            {"wb", "wettb_def", {"id", "titel", "sortierung", "zeitstempel", "mannschaft"}},
            {"wbo", "wettb_opt_def", {"id", "erglist_id", "_option", "wert_st", "wert_in", "wert_float"}},
            {"mt", "mann_teiln", {}},
            {"m", "mannschaft", {}},
            {"va", "veranstaltung", {"id", "_option", "wert_int", "wert_str", "wert_float", "bemerkung"}},
        };
    }();
    return tables;
}

const TableDef* table_by_code(std::string_view code) {
    for (const TableDef& t : upload_tables())
        if (t.code == code) return &t;
    return nullptr;
}

const TableDef* table_by_name(std::string_view name) {
    const std::string lower = text::ascii_lower(name);
    for (const TableDef& t : upload_tables())
        if (t.name == lower) return &t;
    return nullptr;
}

std::string column_name(const TableDef& table, std::size_t index) {
    if (index < table.columns.size()) return std::string(table.columns[index]);
    std::string name = "c";  // appended, not "c" + ...: GCC 12 warns falsely on the latter
    name += std::to_string(index + 1);
    return name;
}

}  // namespace ringolan::site
