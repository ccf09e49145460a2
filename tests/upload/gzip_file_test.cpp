#include "upload/gzip_file.h"
#include "upload/piece_deflate.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <cstdlib>
#include <sstream>
#include <string>

#include "tests/upload/upload_fixture.h"

using namespace ringolan;
using namespace ringolan::test_upload;

namespace {

// Text with repetitions and some noise, like statement lines.
std::string sample(size_t bytes) {
    std::string s;
    uint32_t x = 12345;
    while (s.size() < bytes) {
        x = x * 1103515245u + 12345u;
        s += "#*isc#*'" + std::to_string(x % 100000) + "',9" + std::to_string((x >> 8) % 10) + ".5,'0');\r\n";
    }
    s.resize(bytes);
    return s;
}

struct Inflated {
    std::string data;
    std::string name;
    int os = -1, xflags = -1;
    uLong time = 1;
    bool ok = false;
};

// Reads one gzip member back with zlib's own gzip decoder and its header fields.
Inflated gunzip(const std::string& gz) {
    Inflated out;
    z_stream zs{};
    if (inflateInit2(&zs, 16 + 15) != Z_OK) return out;
    char name[512] = {};
    gz_header head{};
    head.name = reinterpret_cast<Bytef*>(name);
    head.name_max = sizeof name;
    inflateGetHeader(&zs, &head);
    zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(gz.data()));
    zs.avail_in = static_cast<uInt>(gz.size());
    char buf[16384];
    int rc;
    do {
        zs.next_out = reinterpret_cast<Bytef*>(buf);
        zs.avail_out = sizeof buf;
        rc = inflate(&zs, Z_NO_FLUSH);
        out.data.append(buf, sizeof buf - zs.avail_out);
    } while (rc == Z_OK);
    out.ok = rc == Z_STREAM_END && zs.avail_in == 0;  // one member, nothing after it
    out.name = name;
    out.os = head.os;
    out.xflags = head.xflags;
    out.time = head.time;
    inflateEnd(&zs);
    return out;
}

// Raw deflate of the whole input in one call at the given level.
std::string deflate_once(const std::string& in, int level) {
    z_stream zs{};
    deflateInit2(&zs, level, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
    std::string out(deflateBound(&zs, in.size()), '\0');
    zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(in.data()));
    zs.avail_in = static_cast<uInt>(in.size());
    zs.next_out = reinterpret_cast<Bytef*>(out.data());
    zs.avail_out = static_cast<uInt>(out.size());
    EXPECT_EQ(deflate(&zs, Z_FINISH), Z_STREAM_END);
    out.resize(zs.total_out);
    deflateEnd(&zs);
    return out;
}

uint32_t le32(const std::string& s, size_t at) {
    uint32_t v = 0;
    for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<unsigned char>(s[at + i]);
    return v;
}

fs::path write_input(const std::string& name, const std::string& content) {
    const fs::path p = scratch_dir() / name;
    write_bytes(p, content);
    return p;
}

}  // namespace

// Header fixed byte for byte, trailer with the standard check value of CRC-32 ("123456789").
TEST(GzipFile, HeaderAndTrailerBytes) {
    const fs::path sql = write_input("dclub7.sql", "123456789");
    const fs::path gz = scratch_dir() / "dclub7.sql.gz";
    const auto r = upload::gzip_file(sql, gz);
    const std::string bytes = read_bytes(gz);
    const std::string header("\x1F\x8B\x08\x08\0\0\0\0\0\0dclub7.sql\0", 21);
    ASSERT_GT(bytes.size(), header.size() + 8);
    EXPECT_EQ(bytes.substr(0, header.size()), header);
    EXPECT_EQ(le32(bytes, bytes.size() - 8), 0xCBF43926u);
    EXPECT_EQ(le32(bytes, bytes.size() - 4), 9u);
    EXPECT_EQ(r.crc32, 0xCBF43926u);
    EXPECT_EQ(r.input_bytes, 9u);
    EXPECT_EQ(r.output_bytes, bytes.size());

    const Inflated back = gunzip(bytes);
    EXPECT_TRUE(back.ok);
    EXPECT_EQ(back.data, "123456789");
    EXPECT_EQ(back.name, "dclub7.sql");
    EXPECT_EQ(back.os, 0);
    EXPECT_EQ(back.xflags, 0);
    EXPECT_EQ(back.time, 0u);
}

// Up to one deflate piece, the deflate data are those of level 6 over the whole file at once,
// though it is read in smaller pieces; the gzip program accepts the file and restores the input.
TEST(GzipFile, LevelSixStreamedAndAcceptedByGzip) {
    for (size_t size : {size_t(0), size_t(1), size_t(65536 * 3), size_t(1000003)}) {
        SCOPED_TRACE(size);
        const std::string input = sample(size);
        const fs::path sql = write_input("dbig.sql", input);
        const fs::path gz = scratch_dir() / "dbig.sql.gz";
        upload::gzip_file(sql, gz);
        const std::string bytes = read_bytes(gz);
        const size_t header = 10 + std::string("dbig.sql").size() + 1;
        const std::string body = bytes.substr(header, bytes.size() - header - 8);
        EXPECT_EQ(body, deflate_once(input, 6));
        if (size > 1000) {
            EXPECT_NE(body, deflate_once(input, 1));
        }
        EXPECT_EQ(le32(bytes, bytes.size() - 8), crc32(0, reinterpret_cast<const Bytef*>(input.data()), uInt(input.size())));
        EXPECT_EQ(le32(bytes, bytes.size() - 4), uint32_t(size));

        const std::string cmd = "gzip -t '" + gz.string() + "'";
        EXPECT_EQ(std::system(cmd.c_str()), 0) << cmd;
        const fs::path out = scratch_dir() / "gunzipped";
        const std::string unzip = "gzip -dc '" + gz.string() + "' > '" + out.string() + "'";
        ASSERT_EQ(std::system(unzip.c_str()), 0);
        EXPECT_EQ(read_bytes(out), input);
    }
}

// Same input, same bytes: whatever the target folder, the time or a previous file in its place.
TEST(GzipFile, ReproducibleAndOverwriting) {
    const std::string input = sample(200000);
    const fs::path a = write_input("dsame.sql", input);
    fs::create_directories(scratch_dir() / "other");
    const fs::path b = scratch_dir() / "other" / "dsame.sql";
    write_bytes(b, input);
    const fs::path gz_a = scratch_dir() / "a.gz";
    const fs::path gz_b = scratch_dir() / "other" / "b.gz";
    write_bytes(gz_b, std::string(500000, 'x'));  // longer than the result: must be cut
    upload::gzip_file(a, gz_a);
    upload::gzip_file(b, gz_b);
    EXPECT_EQ(read_bytes(gz_a), read_bytes(gz_b));

    std::istringstream in(input);
    std::ostringstream out;
    upload::gzip_stream(in, out, "dsame.sql");
    EXPECT_EQ(out.str(), read_bytes(gz_a));
}

TEST(GzipFile, Failures) {
    const fs::path missing = scratch_dir() / "nothing.sql";
    try {
        upload::gzip_file(missing, scratch_dir() / "nothing.sql.gz");
        ADD_FAILURE() << "no error";
    } catch (const std::runtime_error& e) {
        EXPECT_NE(std::string(e.what()).find("nothing.sql"), std::string::npos) << e.what();
    }
    const fs::path sql = write_input("dok.sql", "x");
    EXPECT_THROW(upload::gzip_file(sql, scratch_dir() / "no" / "dir" / "dok.sql.gz"), std::runtime_error);

    // a path of 241 characters is refused with the fixed text, one of 240 is not
    const fs::path base = scratch_dir();
    auto long_path = [&](size_t length) {
        const size_t name = length - base.string().size() - 1;
        return base / (std::string(name - 4, 'd') + ".sql");
    };
    const fs::path p240 = long_path(240), p241 = long_path(241);
    ASSERT_EQ(p241.string().size(), 241u);
    write_bytes(p240, "x");
    write_bytes(p241, "x");
    EXPECT_NO_THROW(upload::gzip_file(p240, scratch_dir() / "ok.gz"));
    try {
        upload::gzip_file(p241, scratch_dir() / "long.gz");
        ADD_FAILURE() << "no error";
    } catch (const upload::GzipPathTooLong& e) {
        EXPECT_STREQ(e.what(), "Unable to GZip this file: path name is too long");
    }
}

// Written in pieces of any size (one byte, odd sizes, more than a read piece at once), the member
// is the one of the whole input deflated at once (all within one deflate piece), and the totals
// count what was given.
TEST(GzipWriter, PiecesOfAnySizeGiveTheSameMember) {
    for (size_t size : {size_t(0), size_t(7), upload::kGzipPiece, upload::kGzipPiece * 2 + 1, size_t(400000)}) {
        SCOPED_TRACE(size);
        const std::string input = sample(size);
        std::istringstream whole(input);
        std::ostringstream reference;
        upload::gzip_stream(whole, reference, "dw.sql");

        std::ostringstream out;
        upload::GzipWriter writer(out, "dw.sql");
        uint32_t x = 7;
        for (size_t p = 0; p < size;) {
            x = x * 1103515245u + 12345u;
            const size_t piece = std::min(size - p, size_t(x >> 16) % 3 == 0 ? size_t(1) : size_t(x >> 8) % 150000);
            writer.write(input.data() + p, piece);
            p += piece;
        }
        const auto r = writer.finish();
        const std::string bytes = out.str();
        EXPECT_TRUE(bytes == reference.str());
        EXPECT_EQ(r.output_bytes, bytes.size());
        EXPECT_EQ(r.input_bytes, size);
        const size_t header = 10 + std::string("dw.sql").size() + 1;
        ASSERT_GE(bytes.size(), header + 8);
        EXPECT_TRUE(bytes.substr(header, bytes.size() - header - 8) == deflate_once(input, 6));
        EXPECT_EQ(gunzip(bytes).data, input);
        EXPECT_THROW(writer.write("x", 1), std::logic_error);
    }
}

namespace {

// Bytes of which deflate can shrink nothing.
std::string random_bytes(size_t bytes, uint32_t seed) {
    std::string s(bytes, '\0');
    for (char& c : s) {
        seed = seed * 1103515245u + 12345u;
        c = static_cast<char>(seed >> 23);
    }
    return s;
}

// One 20 KiB random block over and over: nothing to find within a block, everything between them.
std::string repeated_block(size_t bytes) {
    const std::string block = random_bytes(20000, 99);
    std::string s;
    while (s.size() < bytes) s += block;
    s.resize(bytes);
    return s;
}

// What zlib at level 6 makes of each piece alone, a few bytes more per piece for the joins, and a
// little room: deflating in pieces must cost no more than that.
size_t bound_for_pieces(const std::string& input, size_t piece) {
    size_t bytes = 0;
    for (size_t at = 0; at < input.size(); at += piece) bytes += deflate_once(input.substr(at, piece), 6).size() + 8;
    return bytes + bytes / 20;
}

std::string raw_inflate(const std::string& deflated, bool& whole) {
    z_stream zs{};
    inflateInit2(&zs, -15);
    zs.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(deflated.data()));
    zs.avail_in = static_cast<uInt>(deflated.size());
    std::string out;
    char buf[65536];
    int rc;
    do {
        zs.next_out = reinterpret_cast<Bytef*>(buf);
        zs.avail_out = sizeof buf;
        rc = inflate(&zs, Z_NO_FLUSH);
        out.append(buf, sizeof buf - zs.avail_out);
    } while (rc == Z_OK);
    whole = rc == Z_STREAM_END && zs.avail_in == 0;
    inflateEnd(&zs);
    return out;
}

// What a program's standard output gives for the file.
std::string run_reader(const std::string& command, const fs::path& file) {
    const fs::path out = scratch_dir() / "reader.out";
    const std::string cmd = command + " '" + file.string() + "' > '" + out.string() + "'";
    EXPECT_EQ(std::system(cmd.c_str()), 0) << cmd;
    return read_bytes(out);
}

}  // namespace

// Around and across the 1 MiB pieces the member reads back whole with zlib, the gzip program and
// Python, header and trailer as before; one piece gives the deflate data of one call, more pieces
// cost no more than the pieces deflated alone.
TEST(GzipWriter, PiecesJoinIntoOneMemberEveryReaderAccepts) {
    constexpr size_t P = upload::kDeflatePiece;
    const struct {
        const char* what;
        std::string input;
    } cases[] = {
        {"empty", ""},
        {"one byte", "x"},
        {"one piece less a byte", sample(P - 1)},
        {"exactly one piece", sample(P)},
        {"one piece and a byte", sample(P + 1)},
        {"two pieces less a byte", sample(2 * P - 1)},
        {"two pieces and a byte", sample(2 * P + 1)},
        {"three pieces and some", sample(3 * P + 12345)},
        {"random", random_bytes(3 * P + 7, 5)},
        {"repeated block", repeated_block(2 * P + 3)},
    };
    const std::string header("\x1F\x8B\x08\x08\0\0\0\0\0\0dp.sql\0", 17);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string& input = c.input;
        std::ostringstream out;
        upload::GzipWriter writer(out, "dp.sql");
        writer.write(input.data(), input.size());
        const auto r = writer.finish();
        const std::string bytes = out.str();
        ASSERT_GE(bytes.size(), header.size() + 8);
        EXPECT_EQ(bytes.substr(0, header.size()), header);
        EXPECT_EQ(r.output_bytes, bytes.size());
        EXPECT_EQ(le32(bytes, bytes.size() - 8), crc32(0, reinterpret_cast<const Bytef*>(input.data()), uInt(input.size())));
        EXPECT_EQ(le32(bytes, bytes.size() - 4), uint32_t(input.size()));

        const std::string body = bytes.substr(header.size(), bytes.size() - header.size() - 8);
        const std::string once = deflate_once(input, 6);
        if (input.size() <= P) EXPECT_TRUE(body == once);
        else EXPECT_LE(body.size(), bound_for_pieces(input, P));
        bool whole = false;
        EXPECT_TRUE(raw_inflate(body, whole) == input);
        EXPECT_TRUE(whole);

        const Inflated back = gunzip(bytes);
        EXPECT_TRUE(back.ok);
        EXPECT_TRUE(back.data == input);
        const fs::path gz = scratch_dir() / "dp.sql.gz";
        write_bytes(gz, bytes);
        EXPECT_TRUE(run_reader("gzip -dc", gz) == input);
        EXPECT_TRUE(run_reader("python3 -c 'import gzip, sys; sys.stdout.buffer.write(gzip.open(sys.argv[1]).read())'", gz) ==
                    input);
    }
}

// The stream does not depend on the number of workers or on how the input is cut when written.
TEST(PieceDeflater, SameStreamForAnyWorkersAndWriteSizes) {
    const struct {
        size_t piece;
        size_t size;
    } cases[] = {{1000, 200000}, {40000, 200001}, {upload::kDeflatePiece, 3 * upload::kDeflatePiece + 5}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.piece);
        const std::string input = sample(c.size / 2) + repeated_block(c.size - c.size / 2);
        std::string reference;
        for (unsigned workers : {1u, 2u, 5u}) {
            SCOPED_TRACE(workers);
            std::string stream;
            upload::PieceDeflater deflater([&](const char* d, size_t n) { stream.append(d, n); }, c.piece, workers);
            uint32_t x = workers;
            for (size_t p = 0; p < input.size();) {
                x = x * 1103515245u + 12345u;
                const size_t n = std::min(input.size() - p, size_t(x >> 8) % (2 * c.piece + 1));
                deflater.write(input.data() + p, n);
                p += n;
            }
            deflater.finish();
            EXPECT_EQ(deflater.input_bytes(), input.size());
            EXPECT_EQ(deflater.crc32(), crc32(0, reinterpret_cast<const Bytef*>(input.data()), uInt(input.size())));
            if (reference.empty()) {
                reference = stream;
                bool whole = false;
                EXPECT_TRUE(raw_inflate(stream, whole) == input);
                EXPECT_TRUE(whole);
                EXPECT_LE(stream.size(), bound_for_pieces(input, c.piece));
            }
            EXPECT_TRUE(stream == reference);
        }
    }
}

// A sink that fails ends writing with its error while pieces are still being deflated.
TEST(PieceDeflater, TheSinksErrorStopsTheWorkers) {
    const std::string input = sample(40 * 4096);
    size_t calls = 0;
    upload::PieceDeflater deflater(
        [&](const char*, size_t) {
            if (++calls == 2) throw std::runtime_error("disk full");
        },
        4096, 3);
    try {
        deflater.write(input.data(), input.size());
        deflater.finish();
        ADD_FAILURE() << "no error";
    } catch (const std::runtime_error& e) {
        EXPECT_STREQ(e.what(), "disk full");
    }
    EXPECT_EQ(calls, 2u);
}
