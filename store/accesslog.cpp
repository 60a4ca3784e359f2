#include "store/accesslog.h"

#include "store/recordfile.h"

namespace {

constexpr std::string_view kLogFile = "system.log";

// Calls sink(user id, date, kind word) for every line with at least three comma-terminated
// fields. false when system.log cannot be read.
template <typename Sink>
bool ScanLog(const std::string& dataDir, Sink sink) {
    std::string bytes;
    if (!ReadWholeFile(DataFilePath(dataDir, kLogFile), bytes)) return false;
    for (std::string_view line : SplitTextLines(bytes)) {
        std::vector<std::string_view> f = CutFields(line);
        if (f.size() < 3) continue;
        sink(CutToSlot(f[1], kLogUserIdSize), f[0], f[2]);
    }
    return true;
}

void Count(UserLogSummary& s, std::string_view date, std::string_view word) {
    if (word == "login") {
        ++s.logins;
        s.lastLogin = CutToSlot(date, kLogDateSize);
    } else if (word == "write") {
        ++s.writes;
    }
}

}  // namespace

bool ParseAccessLogLine(std::string_view line, AccessLogEntry& out) {
    const std::vector<std::string_view> f = CutFields(line);
    if (f.size() < 5) return false;
    if (f[2] == "login") out.kind = kLogLogin;
    else if (f[2] == "write") out.kind = kLogWrite;
    else return false;
    out.date = CutToSlot(f[0], kLogDateSize);
    out.userId = CutToSlot(f[1], kLogUserIdSize);
    out.number = ParseInt(f[3]);
    out.remoteAddr = CutToSlot(f[4], kLogAddrSize);
    // The browser identification is the rest of the line, commas and all.
    const size_t rest = static_cast<size_t>(f[4].data() + f[4].size() + 1 - line.data());
    out.userAgent = CutToSlot(line.substr(rest), kLogAgentSize);
    return true;
}

std::string FormatAccessLogLine(const AccessLogEntry& e) {
    const char* word = e.kind == kLogLogin ? "login" : e.kind == kLogWrite ? "write" : nullptr;
    if (!word) return std::string();
    std::string line = FieldValue(e.date, kLogDateSize);
    line += ',';
    line += FieldValue(e.userId, kLogUserIdSize);
    line += ',';
    line += word;
    line += ',';
    line += std::to_string(e.number);
    line += ',';
    line += FieldValue(e.remoteAddr, kLogAddrSize, true);
    line += ',';
    line += FieldValue(e.userAgent, kLogAgentSize, true);
    line += kLineEnd;
    return line;
}

int AppendAccessLog(const std::string& dataDir, const AccessLogEntry& entry) {
    const std::string line = FormatAccessLogLine(entry);
    if (line.empty()) return -1;
    return AppendTextLine(dataDir, DataFilePath(dataDir, kLogFile), line, true);
}

int SummarizeUserLog(const std::string& dataDir, const std::string& userId, UserLogSummary& out) {
    out = UserLogSummary();
    bool ok = ScanLog(dataDir, [&](const std::string& id, std::string_view date, std::string_view word) {
        if (id == userId) Count(out, date, word);
    });
    return ok ? 0 : -1;
}

std::unordered_map<std::string, UserLogSummary> SummarizeAccessLog(const std::string& dataDir) {
    std::unordered_map<std::string, UserLogSummary> all;
    ScanLog(dataDir, [&](const std::string& id, std::string_view date, std::string_view word) {
        if (word == "login" || word == "write") Count(all[id], date, word);
    });
    return all;
}

int PruneAccessLog(const std::string& dataDir, std::string_view cutoff) {
    DataLock lock(dataDir);
    const std::string path = DataFilePath(dataDir, kLogFile);
    std::string bytes;
    if (!ReadWholeFile(path, bytes)) return -1;
    const std::string_view day = cutoff.substr(0, 10);
    const std::vector<std::string_view> texts = SplitTextLines(bytes);
    const std::vector<std::string_view> raws = SplitRawLines(bytes);
    std::string kept;
    kept.reserve(bytes.size());
    long lastCopied = -1;
    bool dropped = false;
    for (size_t k = 0; k < texts.size(); ++k) {
        if (texts[k].substr(0, 10).compare(day) > 0)
            CopyRawLine(kept, raws[k], static_cast<long>(k), lastCopied);
        else
            dropped = true;
    }
    if (!dropped) return 0;
    return RewriteViaTemp(dataDir, path, path + ".TMP", kept);
}
