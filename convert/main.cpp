// v2convert: moves an installation of the earlier version to this one.
//
//   v2convert [--db PATH]                converts "Vorbix.MDB" (or PATH) into "V2data/" of the
//                                        current directory; prints an HTML progress log
//   v2convert --tables [--db PATH]       lists the tables and their row counts
//   v2convert --dump TABLE [--db PATH]   prints one table as CSV, values read as converted
#include <iostream>
#include <memory>
#include <string>

#include "convert/converter.h"
#include "convert/database.h"
#include "convert/dump.h"

namespace {

int Usage() {
    std::cerr << "usage: v2convert [--db PATH]\n"
                 "       v2convert --tables [--db PATH]\n"
                 "       v2convert --dump TABLE [--db PATH]\n";
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    std::ios::sync_with_stdio(false);
    std::string db = "Vorbix.MDB";
    std::string dumpTable;
    bool tables = false;
    bool dump = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--db" && i + 1 < argc) {
            db = argv[++i];
        } else if (arg == "--tables") {
            tables = true;
        } else if (arg == "--dump" && i + 1 < argc) {
            dump = true;
            dumpTable = argv[++i];
        } else {
            return Usage();
        }
    }
    if (tables && dump) return Usage();
    // The warnings go to standard error too, where an operator sees them beside the log.
    if (!tables && !dump) return RunConversion(db, "V2data", std::cout, nullptr, &std::cerr);

    std::string error;
    std::unique_ptr<AccessDatabase> database = AccessDatabase::Open(db, error);
    if (!database) {
        std::cerr << "v2convert: " << error << "\n";
        return 1;
    }
    const int result = tables ? ListTables(*database, std::cout, std::cerr)
                              : DumpTable(*database, dumpTable, std::cout, std::cerr);
    std::cout.flush();
    return result == 0 ? 0 : 1;
}
