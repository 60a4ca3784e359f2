// boardadmin: the operator's commands for an installation's data.
//
//   boardadmin check [--repair] DATA_DIR [ATTACH_DIR]
//   boardadmin backup DATA_DIR ATTACH_DIR OUT.tar.gz
//   boardadmin restore IN.tar.gz DATA_DIR ATTACH_DIR
//
// check: exit status 0 when the data is sound, 1 when problems were found (with --repair:
// when problems remain), 2 when the check could not run. backup, restore: 0 when done, 1 when
// the archive is damaged or does not match its manifest, 2 when a directory or file could not
// be used.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "tools/backup.h"
#include "tools/check.h"
#include "tools/progress.h"

namespace {

void Usage() {
    fprintf(stderr,
            "usage: boardadmin check [--repair] DATA_DIR [ATTACH_DIR]\n"
            "       boardadmin backup DATA_DIR ATTACH_DIR OUT.tar.gz\n"
            "       boardadmin restore IN.tar.gz DATA_DIR ATTACH_DIR\n"
            "  check     reports every problem of the record files, one line each, and a summary;\n"
            "            without ATTACH_DIR the attachment files are not looked at\n"
            "  --repair  mends what can be mended without losing data, under the data lock\n"
            "  backup    a consistent snapshot of both directories, taken under the data lock\n"
            "  restore   into empty (or new) directories, checked against the manifest\n");
}

std::string Dir(std::string dir) {
    if (!dir.empty() && dir.back() != '/') dir += '/';
    return dir;
}

std::string Plural(uint64_t n, const char* one, const char* many) {
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

int Check(const std::vector<std::string>& args) {
    CheckOptions options;
    std::vector<std::string> dirs;
    for (const std::string& a : args) {
        if (a == "--repair")
            options.repair = true;
        else
            dirs.push_back(a);
    }
    if (dirs.empty() || dirs.size() > 2) {
        Usage();
        return 2;
    }
    options.dataDir = Dir(dirs[0]);
    if (dirs.size() == 2) options.attachDir = Dir(dirs[1]);
    CheckResult result;
    int ran;
    {
        Progress progress("checked");
        ran = CheckInstallation(options, result, &progress);
    }
    for (const std::string& line : result.repairs) printf("repaired: %s\n", line.c_str());
    for (const std::string& line : result.problems) printf("%s\n", line.c_str());
    if (ran != 0) return 2;
    for (const std::string& line : result.notes) printf("note: %s\n", line.c_str());
    const std::string counted =
        Plural(result.files, "file", "files") + ", " + ByteCount(result.bytes);
    if (result.problems.empty()) {
        printf("sound: no problems (%s checked%s)\n", counted.c_str(),
               result.repairs.empty()
                   ? ""
                   : (", after " + Plural(result.repairs.size(), "repair", "repairs")).c_str());
        return 0;
    }
    size_t repairable = 0;
    for (const std::string& line : result.problems)
        if (line.size() > 13 && line.compare(line.size() - 13, 13, " [repairable]") == 0)
            ++repairable;
    printf("%s (%s checked)%s\n", Plural(result.problems.size(), "problem", "problems").c_str(),
           counted.c_str(),
           options.repair
               ? (", after " + Plural(result.repairs.size(), "repair", "repairs")).c_str()
           : repairable > 0
               ? (", " + std::to_string(repairable) + " of them repairable with --repair").c_str()
               : "");
    return 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        Usage();
        return 2;
    }
    const std::string command = argv[1];
    const std::vector<std::string> args(argv + 2, argv + argc);
    if (command == "check") return Check(args);
    if ((command == "backup" || command == "restore") && args.size() == 3) {
        std::string error;
        int result;
        {
            Progress progress(command == "backup" ? "saved" : "restored");
            result = command == "backup" ? Backup(args[0], args[1], args[2], error, &progress)
                                         : Restore(args[0], args[1], args[2], error, &progress);
        }
        if (!error.empty()) fprintf(stderr, "boardadmin %s: %s\n", command.c_str(), error.c_str());
        return result;
    }
    Usage();
    return 2;
}
