// ringolan-mkdb: error lines name table, row and column; bad input leaves no file.
#include <gtest/gtest.h>
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

#include "tests/support/process.h"
#include "tools/mkdb/json_spec.h"

namespace fs = std::filesystem;
using ringolan::mkdb::SpecError;
using ringolan::mkdb::write_from_json;

namespace {

fs::path temp_dir() { return ringolan::readback::scratch_dir("mkdb_test"); }

std::string error_of(const std::string& json) {
    const fs::path out = temp_dir() / "err.mdb";
    try {
        write_from_json(json, out);
    } catch (const SpecError& e) {
        EXPECT_FALSE(fs::exists(out)) << "a file was left behind for: " << json;
        return e.what();
    }
    fs::remove(out);
    return "";
}

std::string table(const std::string& columns, const std::string& rows) {
    return R"({"tables":[{"name":"starter","columns":[)" + columns + R"(],"rows":[)" + rows + "]}]}";
}

const std::string kCols = R"({"name":"Startnr","type":"long"},{"name":"Nachname","type":"text","size":5})";

int run(const std::string& args, std::string* err = nullptr) {
    const auto r = ringolan::readback::run_program(MKDB_BINARY, args, temp_dir());
    if (err) *err = r.err;
    return r.code;
}

}  // namespace

TEST(MkdbErrors, NameTableRowAndColumn) {
    EXPECT_EQ(error_of(table(kCols, R"([1,"ab"],[2,"zu lang"])")),
              "table \"starter\", row 2, column \"Nachname\": text of 7 characters is longer than 5");
    EXPECT_EQ(error_of(table(kCols, R"([1,"ab"],["x","ab"])")),
              "table \"starter\", row 2, column \"Startnr\": a long column cannot hold \"x\"");
    EXPECT_EQ(error_of(table(kCols, R"([3000000000,"ab"])")),
              "table \"starter\", row 1, column \"Startnr\": 3000000000 is out of range -2147483648..2147483647");
    EXPECT_EQ(error_of(table(kCols, R"([1])")), "table \"starter\": row 1: has 1 values, the table has 2 columns");
    EXPECT_EQ(error_of(table(R"({"name":"a","type":"varchar"})", "")),
              "table \"starter\": column \"a\": unknown type \"varchar\" "
              "(byte integer long single double currency boolean datetime text memo)");
    EXPECT_EQ(error_of(table(R"({"name":"j","type":"boolean"})", "[null]")),
              "table \"starter\", row 1, column \"j\": a yes/no column cannot hold NULL");
    EXPECT_EQ(error_of(table(R"({"name":"d","type":"datetime"})", R"(["2023-02-30 10:00:00"])")),
              "table \"starter\", row 1, column \"d\": \"2023-02-30 10:00:00\" is not a date \"YYYY-MM-DD HH:MM:SS\"");
    EXPECT_EQ(error_of(table(R"({"name":"c","type":"currency"})", R"(["1.23456"])")),
              "table \"starter\", row 1, column \"c\": \"1.23456\" is not an amount with at most four decimals");
    EXPECT_NE(error_of(R"({"tables":[{"name":"x","columns":[)").find("malformed JSON"), std::string::npos);
    EXPECT_NE(error_of(R"({"tables":[{"name":"x","columns":[{"name":"a","type":"long"}]},)"
                       R"({"name":"X","columns":[{"name":"a","type":"long"}]}]})")
                  .find("exists already"),
              std::string::npos);
    EXPECT_EQ(error_of(table(kCols, R"([1,"ab"])")), "");
}

TEST(MkdbCli, ExitCodesAndNoOutputOnError) {
    const fs::path dir = temp_dir();
    const fs::path good = dir / "good.json", bad = dir / "bad.json", out = dir / "out.mdb";
    std::ofstream(good) << table(kCols, R"([1017,"Müll"])");
    std::ofstream(bad) << table(kCols, R"([1017,"Müll"],[1,2,3])");

    std::string err;
    EXPECT_EQ(run("--out " + out.string() + " " + bad.string(), &err), 2);
    EXPECT_FALSE(fs::exists(out));
    EXPECT_EQ(err, "ringolan-mkdb: table \"starter\": row 2: has 3 values, the table has 2 columns\n");

    EXPECT_EQ(run("--out " + out.string() + " " + good.string()), 0);
    ASSERT_TRUE(fs::exists(out));
    EXPECT_EQ(fs::file_size(out) % 4096, 0u);

    // A failing run leaves an existing file untouched.
    const auto before = fs::file_size(out);
    EXPECT_EQ(run("--out " + out.string() + " " + bad.string()), 2);
    EXPECT_EQ(fs::file_size(out), before);

    EXPECT_EQ(run(good.string()), 2);  // no --out
    EXPECT_EQ(run("--out " + out.string() + " " + (dir / "missing.json").string()), 2);
    EXPECT_EQ(run("--out " + (dir / "no/such/dir/x.mdb").string() + " " + good.string()), 1);
    for (const auto& e : fs::directory_iterator(dir))
        EXPECT_EQ(e.path().filename().string().find(".tmp."), std::string::npos) << e.path();
    fs::remove_all(dir);
}
