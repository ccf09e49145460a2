// Writes Jet 4 (.mdb) database files: user tables with rows, no indexes.
#pragma once

#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "common/error.h"
#include "db/jet/value.h"

namespace ringolan::jet {

// A table or value that cannot be written. column is -1 when the error is not about one column.
class WriteError : public Error {
public:
    WriteError(const std::string& what, int column = -1) : Error(what), column_(column) {}
    int column() const { return column_; }
private:
    int column_;
};

class DatabaseWriter;

// One user table; rows are encoded as they are added.
class TableWriter {
public:
    const std::string& name() const;
    const std::vector<Column>& columns() const;
    // Appends one row. Throws WriteError (naming the column) when the row has the wrong
    // length or a value does not fit its column; the table is unchanged then.
    void add_row(const Row& row);
    size_t row_count() const;

private:
    friend class DatabaseWriter;
    struct Impl;
    explicit TableWriter(Impl* impl) : impl_(impl) {}
    Impl* impl_;
};

// A database built in memory and saved in one step.
class DatabaseWriter {
public:
    DatabaseWriter();
    ~DatabaseWriter();
    DatabaseWriter(const DatabaseWriter&) = delete;
    DatabaseWriter& operator=(const DatabaseWriter&) = delete;

    // Adds a table; tables are listed in the catalog in the order they are added.
    // Throws WriteError on an empty or duplicate name, no columns, more than 255 columns,
    // a duplicate column name or a text size outside 1..255.
    TableWriter& add_table(const std::string& name, const std::vector<Column>& columns);

    // Writes the file atomically (temporary file beside the target, then rename).
    // Throws Error on I/O failure; no partial file is left behind.
    void save(const std::filesystem::path& target);

    // The complete file image (as save would write it).
    std::vector<uint8_t> image();

private:
    friend class TableWriter;
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace ringolan::jet
