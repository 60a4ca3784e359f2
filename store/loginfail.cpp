#include "store/loginfail.h"

#include <cstdlib>
#include <vector>

#include "store/recordfile.h"

namespace {

struct FailureLine {
    std::string userId;
    time_t until = 0;
    std::vector<time_t> times;
};

time_t ParseTime(std::string_view text) {
    return static_cast<time_t>(std::strtoll(std::string(text).c_str(), nullptr, 10));
}

FailureLine ParseLine(std::string_view line) {
    FailureLine f;
    std::vector<std::string_view> fields = CutFields(line);
    if (fields.empty()) return f;
    f.userId = std::string(fields[0]);
    if (fields.size() > 1) f.until = ParseTime(fields[1]);
    for (size_t i = 2; i < fields.size(); ++i) f.times.push_back(ParseTime(fields[i]));
    return f;
}

std::string FormatLine(const FailureLine& f) {
    std::string line = f.userId + "," + std::to_string(static_cast<long long>(f.until)) + ",";
    for (time_t t : f.times) line += std::to_string(static_cast<long long>(t)) + ",";
    return line + std::string(kLineEnd);
}

// Keeps the failures of the window ending at now; false when nothing is left to keep.
bool Current(FailureLine& f, time_t now) {
    std::erase_if(f.times, [now](time_t t) { return t <= now - kLoginFailureWindow || t > now; });
    if (f.until <= now) f.until = 0;
    return f.until != 0 || !f.times.empty();
}

}  // namespace

int LoginAttempt(const std::string& dataDir, const std::string& userId, time_t now,
                 bool passwordMatches) {
    const std::string path = DataFilePath(dataDir, kLoginFailFile);
    DataLock lock(dataDir);
    std::string bytes;
    bool existed = false;
    // A file the program cannot read is never written over; it costs the throttle, never the
    // login itself.
    const bool readable = ReadFileForChange(path, bytes, existed);

    std::vector<FailureLine> lines;
    long mine = -1;  // index of the caller's line
    for (std::string_view raw : SplitTextLines(bytes)) {
        FailureLine f = ParseLine(raw);
        if (f.userId.empty()) continue;
        if (f.userId == userId) {
            if (mine >= 0) continue;  // a second line of the id is dropped
            Current(f, now);
            mine = static_cast<long>(lines.size());
            lines.push_back(std::move(f));
        } else if (Current(f, now)) {
            lines.push_back(std::move(f));
        }
    }
    if (mine >= 0 && lines[mine].until > now) return kLoginThrottled;

    int result;
    if (passwordMatches) {
        if (mine < 0) return kLoginAccepted;  // nothing to forget, nothing written
        lines.erase(lines.begin() + mine);
        result = kLoginAccepted;
    } else {
        if (mine < 0) {
            mine = static_cast<long>(lines.size());
            lines.push_back(FailureLine{userId, 0, {}});
        }
        FailureLine& f = lines[mine];
        f.times.push_back(now);
        if (static_cast<int>(f.times.size()) >= kLoginFailureLimit) {
            f.until = now + kLoginLockSeconds;
            f.times.clear();
        }
        result = kLoginFailed;
    }

    std::string content;
    for (const FailureLine& f : lines)
        if (f.until != 0 || !f.times.empty()) content += FormatLine(f);
    if (readable) RewriteIfChanged(dataDir, path, path + ".TMP", existed, bytes, content);
    return result;
}
