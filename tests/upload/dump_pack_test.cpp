// A dump written through the pipe: the .sql file holds the lines, the .gz file is what gzip_file
// makes of that .sql file, and failures on either side end both threads with the first cause.
#include "upload/dump_pack.h"
#include "upload/tables_ahead.h"

#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "tests/upload/upload_fixture.h"

using namespace ringolan;
using namespace ringolan::test_upload;

namespace {

// Statement-like lines, numbered so that a lost, doubled or reordered piece shows.
std::string line(size_t i) { return "#*isc#*'" + std::to_string(i) + "','" + std::string(i % 37, 'a') + "');\r\n"; }

// Writes `count` lines one by one, as the dump does.
upload::DumpFunction lines_dump(size_t count) {
    return [count](std::ostream& out) {
        for (size_t i = 0; i < count; ++i) {
            const std::string l = line(i);
            out.write(l.data(), static_cast<std::streamsize>(l.size()));
            if (!out) throw std::runtime_error("write failed");
        }
        return count;
    };
}

std::string expected_text(size_t count) {
    std::string s;
    for (size_t i = 0; i < count; ++i) s += line(i);
    return s;
}

}  // namespace

TEST(DumpPack, SqlFileHoldsTheLinesAndGzIsTheGzipOfIt) {
    const fs::path sql = scratch_dir() / "dpack.sql", gz = scratch_dir() / "dpack.sql.gz";
    // none, a few, and many pieces (about 3.5 MB)
    for (size_t count : {size_t(0), size_t(3), size_t(100000)}) {
        SCOPED_TRACE(count);
        write_bytes(gz, std::string(4000000, 'x'));  // an older, longer file is replaced
        const auto packed = upload::dump_and_pack(lines_dump(count), sql, gz);
        EXPECT_EQ(packed.lines, count);
        const std::string text = expected_text(count);
        EXPECT_TRUE(read_bytes(sql) == text);
        EXPECT_EQ(packed.gzip.input_bytes, text.size());

        const fs::path again = scratch_dir() / "again.sql.gz";
        upload::gzip_file(sql, again);
        EXPECT_TRUE(read_bytes(gz) == read_bytes(again));
        EXPECT_EQ(packed.gzip.output_bytes, read_bytes(gz).size());
    }
}

TEST(DumpPack, TheDumpsErrorEndsBothSides) {
    const fs::path sql = scratch_dir() / "dfail.sql", gz = scratch_dir() / "dfail.sql.gz";
    // after enough output that the pipe is full and the packer busy
    auto failing = [](std::ostream& out) -> size_t {
        const std::string l = line(1);
        for (size_t i = 0; i < 50000; ++i) out.write(l.data(), static_cast<std::streamsize>(l.size()));
        throw std::invalid_argument("bad row 50000");
    };
    try {
        upload::dump_and_pack(failing, sql, gz);
        ADD_FAILURE() << "no error";
    } catch (const std::invalid_argument& e) {
        EXPECT_STREQ(e.what(), "bad row 50000");
    }
}

TEST(DumpPack, AStopEndsTheDumpWithTheStopError) {
    const fs::path sql = scratch_dir() / "dstop.sql", gz = scratch_dir() / "dstop.sql.gz";
    std::atomic<bool> stop{false};
    size_t written = 0;
    auto endless = [&](std::ostream& out) -> size_t {
        for (;; ++written) {
            if (written == 1000) stop = true;
            const std::string l = line(written);
            out.write(l.data(), static_cast<std::streamsize>(l.size()));
            if (!out) throw std::runtime_error("write failed");
        }
    };
    const upload::StopCheck stopped = [&]() -> std::exception_ptr {
        return stop ? std::make_exception_ptr(std::domain_error("stopped")) : nullptr;
    };
    EXPECT_THROW(upload::dump_and_pack(endless, sql, gz, stopped), std::domain_error);
    EXPECT_LT(written, 1000u + 5000u);  // ended within about a piece after the stop
}

TEST(DumpPack, FilesThatCannotBeWritten) {
    const fs::path sql = scratch_dir() / "dok.sql";
    try {
        upload::dump_and_pack(lines_dump(10), sql, scratch_dir() / "no" / "dir" / "dok.sql.gz");
        ADD_FAILURE() << "no error";
    } catch (const std::runtime_error& e) {
        EXPECT_NE(std::string(e.what()).find("no/dir/dok.sql.gz"), std::string::npos) << e.what();
    }
    EXPECT_THROW(upload::dump_and_pack(lines_dump(10), scratch_dir() / "none" / "d.sql", scratch_dir() / "d.sql.gz"),
                 std::runtime_error);

    // the .sql path is too long for the gzip header: refused before anything is written
    const fs::path base = scratch_dir();
    const fs::path long_sql = base / (std::string(241 - base.string().size() - 1 - 4, 'd') + ".sql");
    ASSERT_EQ(long_sql.string().size(), 241u);
    EXPECT_THROW(upload::dump_and_pack(lines_dump(10), long_sql, base / "long.gz"), upload::GzipPathTooLong);
    EXPECT_FALSE(fs::exists(long_sql));
    EXPECT_FALSE(fs::exists(base / "long.gz"));
}

// Tables prepared ahead come back in order; a failing table fails itself and every later one, and
// leaving early stops the table in progress through its stop check.
TEST(TablesAhead, OrderFailureAndLeavingEarly) {
    std::vector<size_t> prepared;
    {
        upload::TablesAhead ahead(
            4,
            [&](size_t i, const upload::StopCheck&) -> size_t {
                if (i == 2) throw std::invalid_argument("table 2");
                prepared.push_back(i);
                return i * 10;
            },
            nullptr);
        EXPECT_EQ(ahead.wait(0), 0u);
        EXPECT_EQ(ahead.wait(1), 10u);
        EXPECT_THROW(ahead.wait(2), std::invalid_argument);
        EXPECT_THROW(ahead.wait(3), std::invalid_argument);
    }
    EXPECT_EQ(prepared, (std::vector<size_t>{0, 1}));

    std::atomic<bool> started{false};
    {
        upload::TablesAhead ahead(
            2,
            [&](size_t, const upload::StopCheck& stop) -> size_t {
                started = true;
                for (;;)
                    if (auto e = stop()) std::rethrow_exception(e);
            },
            nullptr);
        while (!started) std::this_thread::yield();
    }  // returns only once the endless table has stopped
}
