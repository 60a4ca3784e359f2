// Derived files: files the board builds from others (the user lists from user.mst) and may
// rebuild at any time. The check compares each one that exists with what its sources give;
// the repair rebuilds them through the store's own builders. A derived file that does not
// exist is no problem: the board builds it before it reads it.
//
// Every new derived file (a summary the board keeps, say) gets its entry in the table of
// derived.cpp: how to compute its expected content and how to rebuild it.
#pragma once

#include <string>
#include <vector>

struct DerivedFile {
    std::string name;      // relative to the data directory
    std::string source;    // the file(s) it is derived from, for the report
    std::string expected;  // what it should hold now
};

// The derived files that exist in the data directory, each with its expected content. Reads
// only; nothing is created.
std::vector<DerivedFile> ExpectedDerivedFiles(const std::string& dataDir);

// Rebuilds the named derived files (and what they are built from in turn). The caller holds
// the data lock. false when a file could not be rebuilt.
bool RebuildDerivedFiles(const std::string& dataDir, const std::vector<std::string>& names);
