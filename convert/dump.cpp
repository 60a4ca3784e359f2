#include "convert/dump.h"

#include <glib.h>
#include <mdbtools.h>

#include "convert/database.h"

namespace {

void WriteQuoted(std::ostream& out, const std::string& value);

// A name as a CSV field: quoted only when it holds a comma, a quote or a line break.
void WriteName(std::ostream& out, const std::string& name) {
    if (name.find_first_of(",\"\r\n") == std::string::npos)
        out << name;
    else
        WriteQuoted(out, name);
}

void WriteQuoted(std::ostream& out, const std::string& value) {
    out << '"';
    for (char c : value) {
        if (c == '"') out << '"';
        out << c;
    }
    out << '"';
}

}  // namespace

int ListTables(AccessDatabase& db, std::ostream& out, std::ostream& errors) {
    for (const std::string& name : db.TableNames()) {
        std::string error;
        const AccessTable* table = db.Table(name, error);
        if (!table) {
            errors << "v2convert: " << error << "\n";
            return -1;
        }
        WriteName(out, name);
        out << ',' << table->rows.size() << '\n';
    }
    return 0;
}

int DumpTable(AccessDatabase& db, const std::string& name, std::ostream& out,
              std::ostream& errors) {
    std::string error;
    const AccessTable* table = db.Table(name, error);
    if (!table) {
        errors << "v2convert: " << error << "\n";
        return -1;
    }
    for (size_t c = 0; c < table->columns.size(); ++c) {
        if (c) out << ',';
        WriteName(out, table->columns[c].name);
    }
    out << '\n';
    for (const auto& row : table->rows) {
        for (size_t c = 0; c < row.size(); ++c) {
            if (c) out << ',';
            const int type = table->columns[c].type;
            if ((type == MDB_TEXT || type == MDB_MEMO) && !row[c].empty())
                WriteQuoted(out, row[c]);
            else
                out << row[c];
        }
        out << '\n';
    }
    return 0;
}
