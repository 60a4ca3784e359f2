// Pieces the administration pages share: the page start with the system background, titles,
// the refusal below the operator level, hidden fields and button forms in the administration
// pages' own spelling, and the note a writing step leaves for the page that follows it.
#pragma once

#include <string>

#include "app/run.h"

// Users of this level or more are system operators.
inline constexpr int kAdminOperatorLevel = 100;

// Label and value cells of the administration forms.
inline constexpr const char* kAdminLabelColour = "#E0FFFF";
inline constexpr const char* kAdminValueColour = "#FFFFFF";
inline constexpr const char* kAdminMarkColour = "#FFB6C1";

bool AdminIsOperator(const Run& run);

// The page head and "\t\t<BODY BACKGROUND=...>" with CG_FILE_WEB_PATH and BACK_GIF.
void AdminPageStart(Run& run);
// The body line alone (for pages that write a script block between head and body).
void AdminBodyLine(Run& run);
// "<FONT SIZE="5"><B>title</B></FONT>" (title is a message text).
void AdminTitle(Run& run, int msgNo);
// Message 3, a back button labelled message 4, and the page end (the body is already open).
void AdminRefusal(Run& run);
// "</BODY>" and "</HTML>".
void AdminPageEnd(Run& run);

// <INPUT TYPE="hidden" name="..." value="..."> as these pages spell it; the value is escaped.
void AdminHidden(Run& run, const char* name, const std::string& value);
// The multipart form line to the script name ("<FORM ENCTYPE=... METHOD=POST >").
void AdminFormLine(Run& run);
// A whole form holding only hidden SKEY and JOB and one submit button labelled message msgNo.
void AdminButtonForm(Run& run, const char* job, int msgNo);

// The refused-picture note: a writing step records it, the page that follows shows it (in red,
// after its title) when one was recorded.
void AdminNotePictureRefused(Run& run);
void AdminWriteNote(Run& run);

// True when the text holds a comma, CR or LF byte (what a comma-separated line cannot hold).
bool AdminHasLineBreaker(const std::string& text);
