// Reading the earlier version's Access database through libmdb, and the small query layer the
// converter is written against: open a table, step through its rows in an order (with an
// optional equality filter), and read a column of the current row by name as text.
//
// Column values are turned into text once, when a table is read:
//  - Byte, Integer, Long Integer: the decimal number; Boolean: 1 for true, 0 for false;
//  - Single and Double: the value truncated toward zero, as a decimal number;
//  - Text and Memo: the text, in Shift_JIS (Jet 3 code-page text and Jet 4 UCS-2 text alike);
//  - every other type (date/time, currency, binary, ...) and a null value: the empty text.
// Trailing blanks are removed from every value.
#pragma once

#include <cstddef>
#include <map>
#include <memory>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

struct AccessColumn {
    std::string name;
    int type = 0;          // libmdb's column type (MDB_TEXT, MDB_LONGINT, ...)
    bool numeric = false;  // ordered by number rather than by text
};

// One table read whole, rows in the order the table holds them.
struct AccessTable {
    std::string name;
    std::vector<AccessColumn> columns;
    std::vector<std::vector<std::string>> rows;  // rows[r][c]: the column's text

    // Index of the column with exactly this name (case-sensitive), or -1.
    int ColumnIndex(const std::string& name) const;

    // Row indices grouped by the values of a set of columns, built by the first query that
    // filters on that set (key: the column names; inner key: the values), so that a query run
    // for every message costs no scan of the whole table.
    mutable std::map<std::string, std::unordered_map<std::string, std::vector<size_t>>> lookups;
};

class AccessDatabase {
public:
    // Opens the database file. nullptr with a reason in error when it cannot be opened or is
    // not an Access database.
    static std::unique_ptr<AccessDatabase> Open(const std::string& path, std::string& error);
    ~AccessDatabase();
    AccessDatabase(const AccessDatabase&) = delete;
    AccessDatabase& operator=(const AccessDatabase&) = delete;

    // The user tables, in catalog order.
    std::vector<std::string> TableNames() const;

    // The table of that name (matched exactly, else ignoring ASCII letter case), read once and
    // kept for later calls. nullptr with a reason in error when there is no such table.
    const AccessTable* Table(const std::string& name, std::string& error);

private:
    AccessDatabase() = default;
    struct Handle;
    std::unique_ptr<Handle> handle_;
    std::map<std::string, std::unique_ptr<AccessTable>> tables_;
};

// A selection over one table: SELECT * FROM table [WHERE c1=v1 AND ...] ORDER BY o1, o2, ...
// The filter compares the column's text with the value; the order is a stable sort by the
// named columns (numbers by value, texts ignoring ASCII letter case; empty values first), so
// rows that tie keep the order in which the table holds them.
class Query {
public:
    using Condition = std::pair<std::string, std::string>;  // column, value

    // false with a reason in error when the table is missing.
    bool Open(AccessDatabase& db, const std::string& table, const std::vector<Condition>& where,
              const std::vector<std::string>& orderBy, std::string& error);
    // Steps to the first row after Open, then to each next one; false when there is none.
    bool Next();
    // The text of the named column of the current row; empty for an unknown column.
    const std::string& Get(const std::string& column) const;
    size_t Size() const { return order_.size(); }

private:
    const AccessTable* table_ = nullptr;
    std::vector<size_t> order_;
    size_t pos_ = 0;
    bool started_ = false;
};

// The value of a column as text, by libmdb column type and libmdb's own text of the value
// (what a bound column receives; empty for null). Exposed for the tests.
std::string ConvertColumnText(int type, const std::string& libmdbText);
