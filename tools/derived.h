// Derived files: files the board builds from others and may rebuild at any time (the user
// lists from user.mst, each board's unread summary from its index and read marks). The check
// compares each one that exists with what its sources give; the repair rebuilds them through
// the store's own builders. A derived file that does not exist is no problem: the board builds
// it before it reads it.
//
// Every new derived file (a summary the board keeps, say) gets its entry in the table of
// derived.cpp: which files it has, how to compare them with their sources, how to rebuild them.
#pragma once

#include <string>
#include <vector>

struct DerivedFile {
    std::string name;  // relative to the data directory
    // What disagrees with the sources, in words ("differs from what user.mst gives"); empty
    // when the file agrees with them.
    std::string disagreement;
};

// The derived files that exist in the data directory, each compared with its sources. Reads
// only; nothing is created.
std::vector<DerivedFile> CompareDerivedFiles(const std::string& dataDir);

// Rebuilds the named derived files (and what they are built from in turn). The caller holds
// the data lock. false when a file could not be rebuilt.
bool RebuildDerivedFiles(const std::string& dataDir, const std::vector<std::string>& names);
