// A small writer of Access database files (Jet 3, 2 KiB pages, and Jet 4, 4 KiB pages) for the
// converter's tests: user tables of text, memo, byte, integer, long, currency, single, double,
// boolean and date/time columns, a catalog that lists them, one usage map per table, and long
// memos on LVAL pages. No indexes, no properties, no deleted rows.
//
// Text values are given in Shift_JIS; Jet 3 files store them as they are (code page 932 in the
// header), Jet 4 files as UCS-2.
#pragma once

#include <optional>
#include <string>
#include <vector>

enum class JetType {
    Bool = 0x01,
    Byte = 0x02,
    Int = 0x03,
    Long = 0x04,
    Money = 0x05,
    Single = 0x06,
    Double = 0x07,
    DateTime = 0x08,
    Text = 0x0A,
    Memo = 0x0C,
};

struct JetColumn {
    std::string name;
    JetType type = JetType::Text;
    int textChars = 50;  // Text: the column's length in characters
};

// A value: nullopt for null; otherwise text (Text, Memo) or a decimal number ("12", "-3.75";
// Bool "1"/"0"; DateTime days since 1899-12-30).
using JetValue = std::optional<std::string>;

struct JetTable {
    std::string name;
    std::vector<JetColumn> columns;
    std::vector<std::vector<JetValue>> rows;
};

struct JetOptions {
    int version = 4;          // 3 or 4
    size_t inlineMemo = 400;  // memos of more bytes (as stored) go to LVAL pages
};

// Writes the file. false with a reason in error when a table cannot be laid out.
bool WriteJetFile(const std::string& path, const std::vector<JetTable>& tables,
                  const JetOptions& options, std::string& error);

// Shift_JIS (code page 932) of UTF-8 text, for writing the tests' Japanese texts.
std::string Sjis(const std::string& utf8);
