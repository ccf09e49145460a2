// Snapshot: one image shared by pooled read-only connections on many threads.
#include <gtest/gtest.h>

#include <thread>

#include "db/snapshot/snapshot.h"
#include "db/snapshot/snapshot_build.h"
#include "snapshot_test_util.h"

namespace ringolan::db::test {
namespace {

using jet::ColumnType;

class SnapshotTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::vector<jet::Row> rs;
        for (int64_t i = 1; i <= 5000; ++i) rs.push_back({i, std::string("Name ") + std::to_string(i % 97)});
        write_table(dir / "s.mdb", "liste", {{"nr", ColumnType::Long}, {"name", ColumnType::Text, 40}}, rs);
        SnapshotInfo info;
        info.generation = 4;
        snap = Snapshot::from_image(build_snapshot_image(dir / "s.mdb"), info);
    }
    TempDir dir;
    std::shared_ptr<const Snapshot> snap;
};

TEST_F(SnapshotTest, InfoListsTheTables) {
    EXPECT_EQ(snap->info().generation, 4u);
    EXPECT_EQ(snap->info().tables, std::vector<std::string>{"liste"});
}

TEST_F(SnapshotTest, ConnectionsSeeTheContentAndCannotWrite) {
    auto a = snap->connect();
    auto b = snap->connect();
    ASSERT_NE(a.get(), b.get());
    EXPECT_EQ(scalar(a.get(), "SELECT sum(nr) FROM liste"), "12502500");
    EXPECT_EQ(scalar(b.get(), "SELECT count(*) FROM liste WHERE name = 'NAME 5'"), "52");
    EXPECT_THROW(rows(a.get(), "INSERT INTO liste VALUES (0, 'x')"), std::runtime_error);
    EXPECT_THROW(rows(b.get(), "CREATE TABLE t (x)"), std::runtime_error);
    EXPECT_THROW(rows(b.get(), "DELETE FROM liste"), std::runtime_error);
    EXPECT_EQ(scalar(a.get(), "SELECT count(*) FROM liste"), "5000");
}

TEST_F(SnapshotTest, ConnectionsArePooled) {
    sqlite3* first;
    {
        auto a = snap->connect();
        first = a.get();
        // A statement left stepping does not keep its lock in the pool.
        sqlite3_stmt* st = nullptr;
        ASSERT_EQ(sqlite3_prepare_v2(first, "SELECT nr FROM liste", -1, &st, nullptr), SQLITE_OK);
        ASSERT_EQ(sqlite3_step(st), SQLITE_ROW);
    }
    auto again = snap->connect();
    EXPECT_EQ(again.get(), first);
    EXPECT_EQ(scalar(again.get(), "SELECT max(nr) FROM liste"), "5000");
    auto moved = std::move(again);
    EXPECT_EQ(moved.get(), first);
}

TEST_F(SnapshotTest, LivesWhileAConnectionLives) {
    std::weak_ptr<const Snapshot> weak = snap;
    auto c = snap->connect();
    snap.reset();
    EXPECT_FALSE(weak.expired());
    EXPECT_EQ(scalar(c.get(), "SELECT count(*) FROM liste"), "5000");
    { auto gone = std::move(c); }
    EXPECT_TRUE(weak.expired());
}

TEST_F(SnapshotTest, SnapshotsAreSeparate) {
    write_table(dir / "t.mdb", "liste", {{"nr", ColumnType::Long}}, {{int64_t(9)}});
    auto other = Snapshot::from_image(build_snapshot_image(dir / "t.mdb"), {});
    EXPECT_EQ(scalar(other->connect().get(), "SELECT count(*) FROM liste"), "1");
    EXPECT_EQ(scalar(snap->connect().get(), "SELECT count(*) FROM liste"), "5000");
}

TEST_F(SnapshotTest, ConcurrentReadersOnManyThreads) {
    std::vector<std::thread> threads;
    std::atomic<int> bad{0};
    for (int t = 0; t < 6; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < 40; ++i) {
                auto c = snap->connect();
                const int k = (t * 40 + i) % 97;
                const std::string want = std::to_string(5000 / 97 + (k != 0 && k <= 5000 % 97 ? 1 : 0));
                if (scalar(c.get(), "SELECT count(*) FROM liste WHERE name = 'name " + std::to_string(k) + "'") != want) {
                    ++bad;
                }
                if (scalar(c.get(), "SELECT sum(nr) FROM liste") != "12502500") ++bad;
            }
        });
    }
    for (auto& th : threads) th.join();
    EXPECT_EQ(bad.load(), 0);
}

TEST(SnapshotImage, RejectsWhatIsNoDatabase) {
    EXPECT_THROW(Snapshot::from_image({}, {}), std::runtime_error);
    EXPECT_THROW(Snapshot::from_image(std::vector<uint8_t>(8192, 0x5A), {}), std::runtime_error);
}

}  // namespace
}  // namespace ringolan::db::test
