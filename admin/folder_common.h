// Pieces the folder administration pages share: form frames, table cells and the folder table
// with its position options.
#pragma once

#include <string>

#include "admin/common.h"
#include "app/run.h"

// Built on the pieces every administration page shares (admin/common.h).

// "<FONT SIZE="5"><B>(name) text</B></FONT>"; the name is escaped.
void WriteFolderAdminTitle(Run& run, const std::string& name, const std::string& text);

// A multipart form to the program with the hidden SKEY and JOB; formName, when given, becomes
// its NAME.
void OpenAdminForm(Run& run, const char* job, const char* formName = nullptr);
// The back button (message 4) that goes one page back.
void WriteHistoryBack(Run& run);

// Table cells: a label or heading on the label colour, a value cell opened on the value colour.
void WriteLabelCell(Run& run, const std::string& text);
void WriteHeadingCell(Run& run, const std::string& text);
void OpenValueCell(Run& run);

// The folder table of the tree as it stands: one row per folder with its position, number and
// indented icon and name; with actions, the three links to the settings, access and move pages;
// the folder at position `marked` (0: none) is highlighted. The heading row lists messages 187
// to 189 (to 192 with actions). The caller closes the table.
void WriteFolderTable(Run& run, bool actions, int marked = 0);
// One <OPTION> per folder: its position and "position:name".
void WritePositionOptions(Run& run);

// The folder name of the request's NAME field (at most 81 bytes) without leading blanks: in the
// tree file, blanks in front of a name are its depth.
std::string RequestedFolderName(Run& run);

// The picture directory of a folder: CG_FILE_PATH + number + "/".
std::string FolderPictureDir(const Run& run, int folderNo);
// A picture name as it goes into a src attribute.
std::string PictureSrc(const std::string& name);
