// Batch upload: one text file holding any number of messages for any boards, each posted as if
// the uploading user had written it.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "app/run.h"

// The longest body of one record.
inline constexpr size_t kBatchBodyMax = 104000;

// One record of a batch file:
//   ";board<folder>"            (the line must start with ";board")
//   three characters, then the number replied to (0: a new thread)
//   the title (its first 80 bytes)
//   three characters, then the priority
//   body lines, up to a line that starts with ".."
//   four characters, then the read-check mode
//   four characters, then the HTML mode
// Lines end in CR LF or LF; anything outside records is ignored.
struct BatchRecord {
    int folderNo = 0;
    int replyTo = 0;
    std::string title;
    int priority = 0;
    std::string body;  // each body line followed by CR, as bodies are stored
    int readCheck = 0;
    int htmlMode = 0;
};

// The records of a batch file in file order, up to (without) the first record whose folder
// number is 0. Lines longer than 99,999 bytes are taken in pieces. A record cut short by the end
// of the file takes what is there (missing lines read as empty).
std::vector<BatchRecord> ParseBatchFile(std::string_view bytes);

// BATCH_UPLOAD: the form for choosing the file.
void ShowBatchUploadForm(Run& run);
// BATCH_UPLOAD_WR: stores every record of the uploaded FILE1 in a board where the caller may
// write, each under the data lock on its own, and reports one line per record. The upload
// temporary file is removed in every case.
void BatchUpload(Run& run);
