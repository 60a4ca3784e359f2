// Pieces the folder administration pages share: the caller test, the body line, the refusal,
// form frames, table cells and the folder table with its position options.
#pragma once

#include <string>

#include "app/run.h"

// Colours of label and heading cells, value cells and the highlighted row.
inline constexpr const char* kLabelColour = "#E0FFFF";
inline constexpr const char* kValueColour = "#FFFFFF";
inline constexpr const char* kMarkColour = "#FFB6C1";

// The caller is the system operator (user level 100 or more).
bool IsOperator(const Run& run);

// "\t\t<BODY BACKGROUND=..." with CG_FILE_WEB_PATH and BACK_GIF.
void WriteAdminBody(Run& run);
// Message 3, a back button labelled message 4, and the page end.
void WriteAdminRefusal(Run& run);
// "<FONT SIZE="5"><B>text</B></FONT>" and a line end; text is markup (a message).
void WriteAdminTitle(Run& run, const std::string& text);
// "<FONT SIZE="5"><B>(name) text</B></FONT>"; the name is escaped.
void WriteFolderAdminTitle(Run& run, const std::string& name, const std::string& text);

// A multipart form to the program with the hidden SKEY and JOB; formName, when given, becomes
// its NAME.
void OpenAdminForm(Run& run, const char* job, const char* formName = nullptr);
// <INPUT TYPE="hidden" name=".." value=".."> as these pages write it; the value is escaped.
void WriteAdminHidden(Run& run, const char* name, const std::string& value);
// A form with the hidden fields and nothing but a submit button named SUB.
void WriteButtonForm(Run& run, const char* job, const std::string& label);
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

// The picture directory of a folder: CG_FILE_PATH + number + "/".
std::string FolderPictureDir(const Run& run, int folderNo);
// A picture name as it goes into a src attribute.
std::string PictureSrc(const std::string& name);
