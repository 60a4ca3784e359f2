// The numbered texts of the pages (titles, labels, buttons, alerts, error messages), read from
// a language file: one message per line, "N,text,". Pages read them as msg(N) on the run's
// table, e.g. run.msg(109).
#pragma once

#include <array>
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

struct MessageTable {
    static constexpr int kSlots = 400;          // slots 0..399; slot 0 is never filled
    static constexpr size_t kSlotSize = 100;    // a text holds at most 99 bytes

    std::array<std::string, kSlots> text;

    // The text of message n; the empty text for a slot the file did not fill or an n outside
    // 0..399.
    const std::string& operator()(int n) const;
    // Empties every slot.
    void Clear();
};

// Empties all slots, then fills them from the language file. Lines are read up to 1,001 bytes
// and split at commas, empty pieces skipped: the first piece is the number, the second the
// text (cut to 99 bytes). Lines with fewer than two pieces or a number outside 1..399 are
// skipped; a later line replaces an earlier one of the same number. A file that cannot be read
// leaves every text empty.
void LoadMessages(MessageTable& table, const std::string& fileName);

// The non-empty pieces of a line between its commas, the line end already gone: how the lines
// of the language file and of the settings file are cut ("N,text," and "KEY,value,"). A comma
// is never the second byte of a double-byte character, so a plain byte split is safe.
std::vector<std::string_view> CommaTokens(std::string_view line);

// A language file a user may name: a plain "*.lng" file name of the working directory (no
// directory part, no control byte, not starting with a dot, ending in ".lng" in any letter case).
bool IsUserLanguageName(std::string_view name);
