// The check of an installation's record files: every file the board uses is read and what
// contradicts the layouts and the rules that tie the files together is reported, one line per
// problem naming the file and the line or record. The check reads without the data lock, as
// the board's readers do, and changes nothing; with repair it takes the lock for the whole run
// and mends what can be mended without losing anything, each change through the store's own
// writers (atomic replacement under the lock).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

class Progress;

struct CheckOptions {
    std::string dataDir;    // the data directory, ending with "/"
    std::string attachDir;  // the attachment directory, ending with "/"; empty: not checked
    bool repair = false;
};

struct CheckResult {
    // One line per problem: "<file>[ <where>]: <what>", files named relative to the data
    // directory ("user.mst", "3/index.dat") or, for attachment files, as "attachments/<path>".
    // A problem that a repair mends ends in " [repairable]". With repair, the problems that
    // remain after the repairs.
    std::vector<std::string> problems;
    std::vector<std::string> repairs;  // with repair: the changes made, one line each
    std::vector<std::string> notes;    // what was not checked, and why
    uint64_t files = 0;                // files read
    uint64_t bytes = 0;
};

// Checks the installation (and repairs it when options.repair is set). 0 when the check ran,
// -1 when the data directory cannot be read (result.problems then says why).
int CheckInstallation(const CheckOptions& options, CheckResult& result, Progress* progress);
