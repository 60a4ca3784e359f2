// Looking at an old database before converting it: the list of its tables with their row
// counts, and one table printed as CSV with every value read as the conversion reads it.
#pragma once

#include <ostream>
#include <string>

class AccessDatabase;

// One line per user table: its name, a comma, its number of rows. 0, or -1 after an error
// line on errors.
int ListTables(AccessDatabase& db, std::ostream& out, std::ostream& errors);

// A header line of the column names, then one line per row in table order. Text and memo
// values are quoted (a quote doubled) unless empty; the other values are written bare. 0, or
// -1 after an error line when the table is missing.
int DumpTable(AccessDatabase& db, const std::string& table, std::ostream& out,
              std::ostream& errors);
