#include "cgi/dbcs.h"

int FindText(std::string_view text, std::string_view pattern) {
    if (text.empty() || pattern.empty()) return -1;
    const size_t n = text.size();
    for (size_t s = 0; s < n;) {
        size_t t = s, p = 0;
        bool ok = true;
        while (p < pattern.size()) {
            if (t >= n) { ok = false; break; }
            if (IsLeadByte(text[t])) {
                // A two-byte character must match the next two pattern bytes.
                if (t + 1 >= n || p + 1 >= pattern.size() || text[t] != pattern[p] ||
                    text[t + 1] != pattern[p + 1]) {
                    ok = false;
                    break;
                }
                t += 2;
                p += 2;
            } else {
                if (text[t] != pattern[p]) { ok = false; break; }
                ++t;
                ++p;
            }
        }
        if (ok) return static_cast<int>(s);
        s += (IsLeadByte(text[s]) && s + 1 < n) ? 2 : 1;
    }
    return -1;
}
