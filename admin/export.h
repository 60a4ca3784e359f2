// Folder tree export and import: b_title.mst sent as a download, and a file put back in its
// place. For the system operator only.
#pragma once

#include "app/run.h"

// Results of ImportFolderTree.
inline constexpr int kImportDone = 0;           // stored, or no file chosen
inline constexpr int kImportFailed = -1;        // the file could not be read or stored
inline constexpr int kImportWrongName = -2;     // the client's file name is not b_title.mst

// FOLDER_DOWNLOAD: the file's bytes unchanged; nothing at all for other callers.
void ExportFolderTree(Run& run);
// FOLDER_UPLOAD: replaces b_title.mst (under the data lock, in one rename) by the file of FILE1
// when its client name, after its last "/" or "\", is "b_title.mst" in any letter case. Any
// other name is refused and nothing is written to the data directory.
int ImportFolderTree(Run& run);
