#include "admin/export.h"

#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include "admin/folder_common.h"
#include "cgi/files.h"
#include "cgi/request.h"
#include "store/recordfile.h"

namespace {

constexpr const char* kTreeFile = "b_title.mst";
constexpr size_t kUploadCapacity = 1000;

}  // namespace

void ExportFolderTree(Run& run) {
    if (!AdminIsOperator(run)) return;
    SendDownload(run.out, run.dataDir(), kTreeFile);
}

int ImportFolderTree(Run& run) {
    std::string value = GetUploadField(run.fields, "FILE1", 0, kUploadCapacity);
    if (value.empty()) return kImportDone;
    std::string client, temp;
    SplitUploadValue(value, client, temp);
    if (temp.empty()) return kImportDone;
    const std::string tempPath = run.workDir.empty() ? temp : run.workDir + "/" + temp;
    // The upload temporary file goes in any case once this step is over.
    struct RemoveTemp {
        const std::string& path;
        ~RemoveTemp() { unlink(path.c_str()); }
    } removeTemp{tempPath};

    if (!AdminIsOperator(run)) return kImportDone;  // the folder list that follows refuses
    CutToLastSeparator(client, '\\');
    CutToLastSeparator(client, '/');
    if (strcasecmp(client.c_str(), kTreeFile) != 0) return kImportWrongName;

    struct stat st;
    std::string bytes;
    if (lstat(tempPath.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || !ReadWholeFile(tempPath, bytes))
        return kImportFailed;
    const std::string target = DataFilePath(run.dataDir(), kTreeFile);
    return RewriteViaTemp(run.dataDir(), target, target + ".TMP", bytes) == 0 ? kImportDone
                                                                             : kImportFailed;
}
