#include "config/language.h"

#include "store/recordfile.h"

namespace {

// A line is read into a buffer of 1,002 bytes (1,001 bytes and the terminator).
constexpr size_t kLineBuffer = 1002;

}  // namespace

std::vector<std::string_view> CommaTokens(std::string_view line) {
    std::vector<std::string_view> out;
    size_t start = 0;
    while (start <= line.size()) {
        size_t comma = line.find(',', start);
        if (comma == std::string_view::npos) comma = line.size();
        if (comma > start) out.push_back(line.substr(start, comma - start));
        start = comma + 1;
    }
    return out;
}

const std::string& MessageTable::operator()(int n) const {
    static const std::string kEmpty;
    if (n < 0 || n >= kSlots) return kEmpty;
    return text[static_cast<size_t>(n)];
}

void MessageTable::Clear() {
    for (auto& slot : text) slot.clear();
}

void LoadMessages(MessageTable& table, const std::string& fileName) {
    table.Clear();
    std::string bytes;
    if (!ReadWholeFile(fileName, bytes)) return;
    for (std::string_view line : SplitTextLines(bytes, kLineBuffer)) {
        std::vector<std::string_view> tokens = CommaTokens(line);
        if (tokens.size() < 2) continue;
        int32_t number = ParseInt(tokens[0]);
        if (number < 1 || number >= MessageTable::kSlots) continue;
        table.text[static_cast<size_t>(number)] = CutToSlot(tokens[1], MessageTable::kSlotSize);
    }
}

bool IsUserLanguageName(std::string_view name) {
    constexpr std::string_view kExtension = ".lng";
    if (name.size() <= kExtension.size() || name.front() == '.') return false;
    for (unsigned char c : name)
        if (c < 0x20 || c == 0x7F || c == '/' || c == '\\') return false;
    std::string_view ext = name.substr(name.size() - kExtension.size());
    for (size_t i = 0; i < ext.size(); ++i) {
        char c = ext[i];
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        if (c != kExtension[i]) return false;
    }
    return true;
}
