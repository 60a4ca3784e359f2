#include "convert/database.h"

// glib first: libmdb's header expects its types.
#include <glib.h>
#include <mdbtools.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

namespace {

// Long texts (memos) are cut at the bind size; message bodies are far shorter.
constexpr size_t kBindSize = 4 * 1024 * 1024;

std::string TrimBlanks(std::string text) {
    size_t end = text.size();
    while (end > 0 && text[end - 1] == ' ') --end;
    text.resize(end);
    return text;
}

bool IsNumericType(int type) {
    switch (type) {
        case MDB_BOOL:
        case MDB_BYTE:
        case MDB_INT:
        case MDB_LONGINT:
        case MDB_FLOAT:
        case MDB_DOUBLE: return true;
        default: return false;
    }
}

unsigned char Fold(unsigned char c) { return (c >= 'a' && c <= 'z') ? c - 'a' + 'A' : c; }

// <0, 0, >0 as a sorts before, with, after b in one ORDER BY column. Empty values come first.
int CompareValues(const std::string& a, const std::string& b, bool numeric) {
    if (a.empty() || b.empty()) return a.empty() == b.empty() ? 0 : (a.empty() ? -1 : 1);
    if (numeric) {
        const long long x = std::strtoll(a.c_str(), nullptr, 10);
        const long long y = std::strtoll(b.c_str(), nullptr, 10);
        return x < y ? -1 : (x > y ? 1 : 0);
    }
    const size_t n = std::min(a.size(), b.size());
    for (size_t i = 0; i < n; ++i) {
        const unsigned char x = Fold(static_cast<unsigned char>(a[i]));
        const unsigned char y = Fold(static_cast<unsigned char>(b[i]));
        if (x != y) return x < y ? -1 : 1;
    }
    return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

bool SameNameIgnoringCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (Fold(static_cast<unsigned char>(a[i])) != Fold(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

// libmdb's text of a float rounds it (2.9999999999999996 reads as 3), which would change the
// truncated value; the value is read from the row instead, where the fetch left it. The text
// stays when the row's bytes do not agree with it.
std::string ExactFloatText(MdbHandle* mdb, const MdbColumn* col, const std::string& text) {
    const int start = col->cur_value_start;
    const size_t size = col->col_type == MDB_DOUBLE ? 8 : 4;
    if (start < 0 || static_cast<size_t>(start) + size > static_cast<size_t>(mdb->fmt->pg_size))
        return text;
    double value;
    if (size == 8) {
        std::memcpy(&value, mdb->pg_buf + start, 8);
    } else {
        float single;
        std::memcpy(&single, mdb->pg_buf + start, 4);
        value = single;
    }
    const double shown = std::strtod(text.c_str(), nullptr);
    if (!std::isfinite(value) || std::fabs(value - shown) > 1e-6 * std::max(1.0, std::fabs(shown)))
        return text;
    char exact[64];
    std::snprintf(exact, sizeof exact, "%.17g", value);
    return exact;
}

}  // namespace

std::string ConvertColumnText(int type, const std::string& text) {
    switch (type) {
        case MDB_BOOL:
            return (text.empty() || text == "0") ? "0" : "1";
        case MDB_BYTE:
        case MDB_INT:
        case MDB_LONGINT:
            return TrimBlanks(text);
        case MDB_FLOAT:
        case MDB_DOUBLE: {
            if (text.empty()) return "";
            double value = std::trunc(std::strtod(text.c_str(), nullptr));
            if (std::isnan(value)) value = 0;
            value = std::clamp(value, static_cast<double>(INT32_MIN), static_cast<double>(INT32_MAX));
            return std::to_string(static_cast<long>(value));
        }
        case MDB_TEXT:
        case MDB_MEMO:
            return TrimBlanks(text);
        default:
            return "";
    }
}

int AccessTable::ColumnIndex(const std::string& name) const {
    for (size_t i = 0; i < columns.size(); ++i)
        if (columns[i].name == name) return static_cast<int>(i);
    return -1;
}

struct AccessDatabase::Handle {
    MdbHandle* mdb = nullptr;
    ~Handle() {
        if (mdb) mdb_close(mdb);
    }
};

std::unique_ptr<AccessDatabase> AccessDatabase::Open(const std::string& path, std::string& error) {
    // Jet 3 text is stored in the code page, Jet 4 text as UCS-2; both are to come out as
    // Shift_JIS. libmdb reads these when it opens the file.
    setenv("MDB_JET3_CHARSET", "CP932", 1);
    setenv("MDBICONV", "CP932", 1);
    if (FILE* f = std::fopen(path.c_str(), "rb")) {
        std::fclose(f);
    } else {
        error = "cannot open the database " + path;
        return nullptr;
    }
    std::unique_ptr<AccessDatabase> db(new AccessDatabase);
    db->handle_ = std::make_unique<Handle>();
    db->handle_->mdb = mdb_open(path.c_str(), MDB_NOFLAGS);
    if (!db->handle_->mdb) {
        error = "the file " + path + " is not an Access database";
        return nullptr;
    }
    MdbHandle* mdb = db->handle_->mdb;
    mdb_set_bind_size(mdb, kBindSize);
    mdb_set_boolean_fmt_numbers(mdb);
    if (!mdb_read_catalog(mdb, MDB_TABLE)) {
        error = "the catalog of " + path + " cannot be read";
        return nullptr;
    }
    return db;
}

AccessDatabase::~AccessDatabase() = default;

std::vector<std::string> AccessDatabase::TableNames() const {
    std::vector<std::string> names;
    MdbHandle* mdb = handle_->mdb;
    for (unsigned i = 0; i < mdb->num_catalog; ++i) {
        auto* entry = static_cast<MdbCatalogEntry*>(g_ptr_array_index(mdb->catalog, i));
        if (entry->object_type == MDB_TABLE && mdb_is_user_table(entry))
            names.emplace_back(entry->object_name);
    }
    return names;
}

const AccessTable* AccessDatabase::Table(const std::string& name, std::string& error) {
    if (auto found = tables_.find(name); found != tables_.end()) return found->second.get();

    MdbHandle* mdb = handle_->mdb;
    MdbCatalogEntry* entry = nullptr;
    for (int pass = 0; pass < 2 && !entry; ++pass) {
        for (unsigned i = 0; i < mdb->num_catalog && !entry; ++i) {
            auto* e = static_cast<MdbCatalogEntry*>(g_ptr_array_index(mdb->catalog, i));
            if (e->object_type != MDB_TABLE) continue;
            if (pass == 0 ? name == e->object_name : SameNameIgnoringCase(name, e->object_name))
                entry = e;
        }
    }
    MdbTableDef* def = entry ? mdb_read_table(entry) : nullptr;
    if (!def) {
        error = "the table " + name + " is missing";
        return nullptr;
    }
    mdb_read_columns(def);
    mdb_rewind_table(def);

    auto table = std::make_unique<AccessTable>();
    table->name = entry->object_name;
    const unsigned count = def->num_cols;
    std::vector<char*> buffers(count);
    std::vector<int> lengths(count, 0);
    for (unsigned i = 0; i < count; ++i) {
        auto* col = static_cast<MdbColumn*>(g_ptr_array_index(def->columns, i));
        table->columns.push_back({col->name, col->col_type, IsNumericType(col->col_type)});
        buffers[i] = static_cast<char*>(g_malloc0(mdb->bind_size));
        mdb_bind_column(def, static_cast<int>(i) + 1, buffers[i], &lengths[i]);
    }
    while (mdb_fetch_row(def)) {
        std::vector<std::string> row(count);
        for (unsigned i = 0; i < count; ++i) {
            const size_t len = lengths[i] > 0 ? static_cast<size_t>(lengths[i]) : 0;
            std::string text(buffers[i], std::min(len, mdb->bind_size));
            const int type = table->columns[i].type;
            if ((type == MDB_FLOAT || type == MDB_DOUBLE) && !text.empty())
                text = ExactFloatText(mdb, static_cast<MdbColumn*>(g_ptr_array_index(def->columns, i)),
                                      text);
            row[i] = ConvertColumnText(type, text);
            lengths[i] = 0;
            buffers[i][0] = '\0';
        }
        table->rows.push_back(std::move(row));
    }
    for (char* buffer : buffers) g_free(buffer);
    mdb_free_tabledef(def);

    const AccessTable* result = table.get();
    tables_[name] = std::move(table);
    return result;
}

namespace {

std::string LookupKey(const std::vector<std::string>& values) {
    std::string key;
    for (const std::string& v : values) {
        key += v;
        key += '\0';
    }
    return key;
}

}  // namespace

bool Query::Open(AccessDatabase& db, const std::string& table,
                 const std::vector<Condition>& where, const std::vector<std::string>& orderBy,
                 std::string& error) {
    table_ = db.Table(table, error);
    order_.clear();
    pos_ = 0;
    started_ = false;
    if (!table_) return false;
    const AccessTable& t = *table_;

    if (where.empty()) {
        order_.resize(t.rows.size());
        for (size_t i = 0; i < order_.size(); ++i) order_[i] = i;
    } else {
        std::vector<int> cols;
        std::string colKey;
        std::vector<std::string> values;
        for (const auto& [column, value] : where) {
            cols.push_back(t.ColumnIndex(column));
            colKey += column;
            colKey += '\0';
            values.push_back(value);
        }
        auto [it, fresh] = t.lookups.try_emplace(colKey);
        if (fresh) {
            std::vector<std::string> rowValues(cols.size());
            for (size_t r = 0; r < t.rows.size(); ++r) {
                for (size_t c = 0; c < cols.size(); ++c)
                    rowValues[c] = cols[c] < 0 ? std::string() : t.rows[r][cols[c]];
                it->second[LookupKey(rowValues)].push_back(r);
            }
        }
        if (auto found = it->second.find(LookupKey(values)); found != it->second.end())
            order_ = found->second;
    }

    std::vector<std::pair<int, bool>> keys;  // column index, numeric
    for (const std::string& column : orderBy) {
        const int c = t.ColumnIndex(column);
        if (c >= 0) keys.emplace_back(c, t.columns[c].numeric);
    }
    if (!keys.empty()) {
        std::stable_sort(order_.begin(), order_.end(), [&](size_t a, size_t b) {
            for (const auto& [c, numeric] : keys) {
                const int cmp = CompareValues(t.rows[a][c], t.rows[b][c], numeric);
                if (cmp != 0) return cmp < 0;
            }
            return false;
        });
    }
    return true;
}

bool Query::Next() {
    if (!table_) return false;
    if (started_) ++pos_;
    started_ = true;
    return pos_ < order_.size();
}

const std::string& Query::Get(const std::string& column) const {
    static const std::string empty;
    if (!table_ || !started_ || pos_ >= order_.size()) return empty;
    const int c = table_->ColumnIndex(column);
    return c < 0 ? empty : table_->rows[order_[pos_]][c];
}
