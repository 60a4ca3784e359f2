// The files that boardinstall copies into a new installation, compiled into the program:
// the static web files (pictures and pages that the board's pages name) and the language files.
#pragma once

#include <cstddef>

inline constexpr int kEmbeddedWeb = 1;       // goes to the web directory (CG_FILE_PATH)
inline constexpr int kEmbeddedLanguage = 2;  // goes beside the program (its working directory)

struct EmbeddedFile {
    const char* name;
    int kind;
    const unsigned char* data;
    size_t size;
};

extern const EmbeddedFile kEmbeddedFiles[];
extern const size_t kEmbeddedFileCount;
