// The conversion of the earlier version's database into the board's record files: nine tables
// read in a fixed order, written under one output directory ("V2data" of the current directory
// in the program) in the layouts the board reads, with an HTML progress log.
#pragma once

#include <ostream>
#include <string>

class AccessDatabase;

// How many records of each kind a run wrote.
struct ConversionCounts {
    long users = 0;
    long folders = 0;
    long groupMembers = 0;
    long groups = 0;
    long groupAcl = 0;
    long userAcl = 0;
    long messages = 0;
    long attachments = 0;
    long readMarks = 0;
};

// Converts the database file dbPath into outDir (created when missing; no trailing separator).
// The log (written to log) starts with the CGI header "Content-type: text/html\n\n", shows one
// line per message and read mark, a line for every warning, a line for the error that ends a
// failed run, and ends with the counts of records written. 0 when every table was converted,
// -1 when the run stopped (the database cannot be opened, a table is missing, or an output file
// cannot be created); files already written stay.
//
// The files written check sound where the earlier database allowed what the board cannot take:
// an id naming a user in another letter case becomes that user's id, an attachment count
// becomes the number of attachment entries written, a reply filed after a later thread joins
// its thread, and a folder placed too deep (or inside a board) moves up to where the outline can
// hold it. Each such change is a warning, in the log and (plain text, one line each, naming the
// table and row) on warnings when given.
int RunConversion(const std::string& dbPath, const std::string& outDir, std::ostream& log,
                  ConversionCounts* counts = nullptr, std::ostream* warnings = nullptr);

// The body text of the earlier database with each "<BR>" turned into one carriage return, in
// one left-to-right pass: a character that breaks a partly matched "<BR>" is copied with the
// matched part and starts no new match.
std::string ConvertBody(const std::string& body);
