#include "cgi/text.h"

#include <algorithm>
#include <cstdio>

#include "cgi/dbcs.h"

// Largest result length for a caller's buffer of capacity bytes.
static size_t LimitFor(size_t capacity) {
    size_t c = std::min(capacity, kWorkSize);
    return c == 0 ? 0 : c - 1;
}

// Length of the character at i: 2 for a complete two-byte character, 1 for a single byte, 0 for
// a lead byte that has no second byte (the end of a text that was cut mid-character).
static size_t CharLength(std::string_view text, size_t i) {
    if (!IsLeadByte(text[i])) return 1;
    return i + 1 < text.size() ? 2 : 0;
}

// Cuts text to at most limit bytes, on a character boundary.
static void CutToLimit(std::string& text, size_t limit) {
    if (text.size() <= limit) return;
    size_t i = 0;
    while (i < limit) {
        size_t len = CharLength(text, i);
        if (len == 0 || i + len > limit) break;
        i += len;
    }
    text.resize(i);
}

static bool StartsAt(std::string_view text, size_t i, std::string_view prefix) {
    return text.substr(i).starts_with(prefix);
}

// Position of the first character boundary at or after from where one of the two spellings
// begins, or npos.
static size_t FindOnBoundary(std::string_view text, size_t from, std::string_view a,
                             std::string_view b) {
    for (size_t i = from; i < text.size();) {
        if (StartsAt(text, i, a) || StartsAt(text, i, b)) return i;
        size_t len = CharLength(text, i);
        i += len == 0 ? 1 : len;
    }
    return std::string_view::npos;
}

// The result of a conversion under construction. Put appends a unit whole, or refuses it when
// it does not fit (and every later unit with it: the result is cut at that point). reserve
// keeps room for a closing tag that must still follow.
namespace {
struct Builder {
    explicit Builder(size_t capacity) : limit(LimitFor(capacity)) { out.reserve(256); }
    bool Put(std::string_view unit, size_t reserve = 0) {
        if (full) return false;
        if (out.size() + unit.size() + reserve > limit) {
            full = true;
            return false;
        }
        out.append(unit);
        return true;
    }
    std::string out;
    size_t limit;
    bool full = false;
};
}  // namespace

// ---- Date stamps ---------------------------------------------------------------------------

static std::string FormatLocal(time_t t, bool seconds) {
    struct tm tm {};
    if (!localtime_r(&t, &tm)) tm = {};
    char buf[64];
    if (seconds)
        std::snprintf(buf, sizeof buf, "%04d/%02d/%02d %02d:%02d.%02d", tm.tm_year + 1900,
                      tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec);
    else
        std::snprintf(buf, sizeof buf, "%04d/%02d/%02d %02d:%02d", tm.tm_year + 1900,
                      tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min);
    return buf;
}

std::string DateStampAt(time_t t) { return FormatLocal(t, false); }
std::string DateStampSecondsAt(time_t t) { return FormatLocal(t, true); }

void DateStamp(std::string& text, size_t capacity) {
    text = DateStampAt(std::time(nullptr));
    CutToLimit(text, LimitFor(capacity));
}

void DateStampSeconds(std::string& text, size_t capacity) {
    text = DateStampSecondsAt(std::time(nullptr));
    CutToLimit(text, LimitFor(capacity));
}

// Decimal number in text[pos, pos + len) as atoi reads it; 0 when there is none.
static int ReadField(std::string_view text, size_t pos, size_t len) {
    if (pos >= text.size()) return 0;
    std::string_view s = text.substr(pos, len);
    size_t i = 0;
    while (i < s.size() && s[i] == ' ') ++i;
    bool negative = false;
    if (i < s.size() && (s[i] == '-' || s[i] == '+')) negative = s[i++] == '-';
    int v = 0;
    while (i < s.size() && s[i] >= '0' && s[i] <= '9') v = v * 10 + (s[i++] - '0');
    return negative ? -v : v;
}

void DayBefore(std::string& text, size_t capacity) {
    static const int kMonthDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    int year = ReadField(text, 0, 4);
    int month = ReadField(text, 5, 2);
    int day = ReadField(text, 8, 2);
    if (day - 1 >= 1) {
        --day;
    } else {
        --month;
        if (month < 1) {
            month = 12;
            --year;
        }
        if (month > 12) month = 12;  // a month beyond December in the input
        day = kMonthDays[month - 1];
    }
    char buf[48];
    std::snprintf(buf, sizeof buf, "%04d/%02d/%02d", year, month, day);
    text = buf;
    CutToLimit(text, LimitFor(capacity));
}

// ---- Conversions for showing a text --------------------------------------------------------

// End of an address that starts at i.
static size_t AddressEnd(std::string_view text, size_t i) {
    while (i < text.size()) {
        char c = text[i];
        if (c == '\0' || c == '\n' || c == '\r' || c == ' ' || c == ',' || c == '<' ||
            c == '>' || c == '"' || IsLeadByte(c))
            break;
        ++i;
    }
    return i;
}

void LinkUrls(std::string& text, size_t capacity) {
    std::string_view in = text;
    Builder b(capacity);
    size_t i = 0;
    // Once a tag the author wrote has no end, the rest of the text is copied as it stands.
    bool copyRest = false;
    while (i < in.size() && !b.full) {
        size_t len = CharLength(in, i);
        if (len == 0) break;
        if (copyRest || len == 2) {
            b.Put(in.substr(i, len));
            i += len;
            continue;
        }
        const bool web = StartsAt(in, i, "HTTP://") || StartsAt(in, i, "http://") ||
                         StartsAt(in, i, "HTTPS://") || StartsAt(in, i, "https://");
        if (web || StartsAt(in, i, "MAILTO:") || StartsAt(in, i, "mailto:")) {
            size_t end = AddressEnd(in, i);
            std::string_view address = in.substr(i, end - i);
            // A mail link shows the address without its "mailto:".
            std::string link = "<A HREF=\"";
            link.append(address).append("\">").append(address.substr(web ? 0 : 7)).append("</A>");
            b.Put(link);
            i = end;
            continue;
        }
        if (StartsAt(in, i, "<A HREF") || StartsAt(in, i, "<a href")) {
            size_t end = FindOnBoundary(in, i + 7, "</A>", "</a>");
            if (end == std::string_view::npos) {
                copyRest = true;
                continue;
            }
            std::string link(in.substr(i, end - i));
            link.append("</A>");
            b.Put(link);
            i = end + 4;
            continue;
        }
        if (StartsAt(in, i, "<IMG") || StartsAt(in, i, "<img")) {
            size_t end = FindOnBoundary(in, i + 4, ">", ">");
            if (end == std::string_view::npos) {
                copyRest = true;
                continue;
            }
            b.Put(in.substr(i, end + 1 - i));
            i = end + 1;
            continue;
        }
        b.Put(in.substr(i, 1));
        ++i;
    }
    text = std::move(b.out);
}

void LineBreaksToHtml(std::string& text, size_t capacity) {
    constexpr size_t kStopAt = 100000;
    std::string_view in = text;
    Builder b(capacity);
    for (size_t i = 0; i < in.size() && !b.full && b.out.size() < kStopAt;) {
        size_t len = CharLength(in, i);
        if (len == 0) break;
        if (len == 1 && in[i] == '\n') {
            // dropped
        } else if (len == 1 && in[i] == '\r') {
            b.Put("<BR>\n");
        } else {
            b.Put(in.substr(i, len));
        }
        i += len;
    }
    text = std::move(b.out);
}

static std::string HexColour(std::string_view colour) {
    std::string out;
    for (char c : colour) {
        if (out.size() == 6) break;
        if ((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'))
            out.push_back(c);
    }
    return out;
}

void ColorQuotes(std::string& text, std::string_view colour, size_t capacity) {
    enum State { kLineStart, kPlain, kQuoted, kAfterQuoted };
    const std::string open = "<FONT COLOR=\"#" + HexColour(colour) + "\">";
    constexpr std::string_view kClose = "</FONT>";
    std::string_view in = text;
    Builder b(capacity);
    State state = kLineStart;
    std::string unit;
    for (size_t i = 0; i < in.size();) {
        size_t len = CharLength(in, i);
        if (len == 0) break;
        std::string_view ch = in.substr(i, len);
        const bool single = len == 1;
        State next = state;
        if (single && ch[0] == '>' && state == kLineStart) {
            unit = open;
            unit += ch;
            next = kQuoted;
        } else if (single && ch[0] == '\r') {
            unit = ch;
            if (state == kQuoted) next = kAfterQuoted;
            else if (state == kPlain) next = kLineStart;
        } else if (state == kAfterQuoted) {
            if (single && ch[0] == '>') {
                unit = ch;
                next = kQuoted;
            } else {
                unit = kClose;
                unit += ch;
                next = kPlain;
            }
        } else {
            unit = ch;
            if (state == kLineStart) next = kPlain;
        }
        // While the colour is open after this unit, room for its end stays free.
        const bool openAfter = next == kQuoted || next == kAfterQuoted;
        if (!b.Put(unit, openAfter ? kClose.size() : 0)) break;
        state = next;
        i += len;
    }
    if (state == kQuoted || state == kAfterQuoted) b.out.append(kClose);
    text = std::move(b.out);
}

// ---- Conversions for storing and quoting ---------------------------------------------------

void DropLineFeeds(std::string& text, size_t capacity) {
    std::string_view in = text;
    Builder b(capacity);
    for (size_t i = 0; i < in.size() && !b.full;) {
        size_t len = CharLength(in, i);
        if (len == 0) break;
        if (!(len == 1 && in[i] == '\n')) b.Put(in.substr(i, len));
        i += len;
    }
    text = std::move(b.out);
}

void QuoteLines(std::string& text, size_t capacity) {
    std::string_view in = text;
    Builder b(capacity);
    bool lineStart = true;
    std::string unit;
    for (size_t i = 0; i < in.size() && !b.full;) {
        size_t len = CharLength(in, i);
        if (len == 0) break;
        if (len == 1 && in[i] == '\n') {
            lineStart = true;
        } else {
            unit.clear();
            if (lineStart) unit.push_back('>');
            unit.append(in.substr(i, len));
            if (!b.Put(unit)) break;
            lineStart = len == 1 && in[i] == '\r';
        }
        i += len;
    }
    text = std::move(b.out);
}

// ---- Small formatting ----------------------------------------------------------------------

void GroupThousands(std::string& text, size_t capacity) {
    size_t i = 0;
    while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '-' || text[i] == '+')) negative = text[i++] == '-';
    std::string digits;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        if (digits.empty() && text[i] == '0') continue;  // leading zeros
        digits.push_back(text[i]);
    }
    std::string out;
    if (digits.empty()) {
        out = "0";
    } else {
        if (negative) out.push_back('-');
        for (size_t k = 0; k < digits.size(); ++k) {
            if (k > 0 && (digits.size() - k) % 3 == 0) out.push_back(',');
            out.push_back(digits[k]);
        }
    }
    text = std::move(out);
    CutToLimit(text, LimitFor(capacity));
}

void TrimTrailingSpaces(std::string& text, size_t capacity) {
    // End of the last character that is not a single-byte space.
    size_t keep = 0;
    for (size_t i = 0; i < text.size();) {
        size_t len = CharLength(text, i);
        if (len == 0) len = 1;  // a lone lead byte at the end is kept as it is
        if (!(len == 1 && text[i] == ' ')) keep = i + len;
        i += len;
    }
    text.resize(keep);
    CutToLimit(text, LimitFor(capacity));
}

void UpperCaseAscii(std::string& text, size_t capacity) {
    for (size_t i = 0; i < text.size();) {
        if (IsLeadByte(text[i])) {
            i += 2;
            continue;
        }
        if (text[i] >= 'a' && text[i] <= 'z') text[i] = static_cast<char>(text[i] - 'a' + 'A');
        ++i;
    }
    CutToLimit(text, LimitFor(capacity));
}
