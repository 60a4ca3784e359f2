#include "board/sanitize.h"

#include <algorithm>
#include <vector>

#include "cgi/dbcs.h"
#include "cgi/html.h"

namespace {

// An allowed tag, whether it has no end tag, and its allowed attributes (lower case).
struct TagRule {
    std::string_view name;
    bool isVoid;
    std::vector<std::string_view> attrs;
};

const std::vector<TagRule>& TagRules() {
    static const std::vector<TagRule> rules = {
        {"b", false, {}},        {"i", false, {}},       {"u", false, {}},
        {"s", false, {}},        {"strike", false, {}},  {"em", false, {}},
        {"strong", false, {}},   {"tt", false, {}},      {"code", false, {}},
        {"small", false, {}},    {"big", false, {}},     {"sup", false, {}},
        {"sub", false, {}},      {"span", false, {}},    {"nobr", false, {}},
        {"cite", false, {}},     {"kbd", false, {}},     {"samp", false, {}},
        {"var", false, {}},      {"q", false, {}},       {"blockquote", false, {}},
        {"dl", false, {}},       {"dt", false, {}},      {"dd", false, {}},
        {"wbr", true, {}},
        {"font", false, {"color", "size", "face"}},
        {"br", true, {"clear"}},
        {"p", false, {"align"}},       {"div", false, {"align"}},
        {"center", false, {}},         {"pre", false, {"width"}},
        {"h1", false, {"align"}},      {"h2", false, {"align"}},
        {"h3", false, {"align"}},      {"h4", false, {"align"}},
        {"h5", false, {"align"}},      {"h6", false, {"align"}},
        {"hr", true, {"size", "width", "align", "noshade", "color"}},
        {"a", false, {"href", "name", "title"}},
        {"img", true,
         {"src", "alt", "title", "width", "height", "border", "align", "hspace", "vspace"}},
        {"table", false, {"border", "width", "align", "bgcolor", "cellpadding", "cellspacing"}},
        {"caption", false, {"align"}},
        {"thead", false, {"align", "valign"}},  {"tbody", false, {"align", "valign"}},
        {"tfoot", false, {"align", "valign"}},
        {"tr", false, {"align", "valign", "bgcolor"}},
        {"td", false, {"align", "valign", "bgcolor", "width", "height", "colspan", "rowspan", "nowrap"}},
        {"th", false, {"align", "valign", "bgcolor", "width", "height", "colspan", "rowspan", "nowrap"}},
        {"ul", false, {"type"}},
        {"ol", false, {"type", "start"}},
        {"li", false, {"type", "value"}},
    };
    return rules;
}

// Elements whose content is dropped with them.
bool IsDroppedWithContent(std::string_view lowerName) {
    return lowerName == "script" || lowerName == "style";
}

// Rows, cells and table sections: allowed only inside a table the text itself opened, so that
// they cannot end or add cells of a table around the text.
bool IsTablePart(std::string_view lowerName) {
    return lowerName == "tr" || lowerName == "td" || lowerName == "th" || lowerName == "thead" ||
           lowerName == "tbody" || lowerName == "tfoot" || lowerName == "caption";
}

// Allowed elements may nest this deep; deeper openings are dropped.
constexpr size_t kMaxOpenElements = 500;

char LowerChar(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

std::string LowerAscii(std::string_view s) {
    std::string out(s);
    for (char& c : out) c = LowerChar(c);
    return out;
}

bool IsAsciiAlpha(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
bool IsAsciiAlnum(char c) { return IsAsciiAlpha(c) || (c >= '0' && c <= '9'); }

// Blanks that separate the parts of a tag.
bool IsTagSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f'; }

// Bytes of the character at i: 2 for a lead byte followed by a byte of 0x40 or above, else 1.
size_t CharLen(std::string_view s, size_t i) {
    if (IsLeadByte(s[i]) && i + 1 < s.size() && static_cast<unsigned char>(s[i + 1]) >= 0x40)
        return 2;
    return 1;
}

const TagRule* FindRule(std::string_view lowerName) {
    for (const TagRule& r : TagRules())
        if (r.name == lowerName) return &r;
    return nullptr;
}

bool RuleAllows(const TagRule& rule, std::string_view lowerAttr) {
    return std::find(rule.attrs.begin(), rule.attrs.end(), lowerAttr) != rule.attrs.end();
}

struct Attr {
    std::string name;
    std::string value;
    bool hasValue = false;
};

struct Tag {
    bool closing = false;
    std::string name;  // as written
    std::vector<Attr> attrs;
    size_t end = 0;  // index after the closing '>'
};

// Reads the tag that starts with '<' at i (a letter follows, or '/' and a letter). false when
// the text ends before the tag does.
bool ParseTag(std::string_view s, size_t i, Tag& t) {
    const size_t n = s.size();
    size_t j = i + 1;
    if (j < n && s[j] == '/') {
        t.closing = true;
        ++j;
    }
    while (j < n && IsAsciiAlnum(s[j])) t.name.push_back(s[j++]);
    for (;;) {
        while (j < n && (IsTagSpace(s[j]) || s[j] == '/')) ++j;
        if (j >= n) return false;
        if (s[j] == '>') {
            t.end = j + 1;
            return true;
        }
        Attr a;
        size_t start = j;
        if (s[j] == '=') ++j;  // a name may start with '='
        while (j < n && !IsTagSpace(s[j]) && s[j] != '/' && s[j] != '>' && s[j] != '=')
            j += CharLen(s, j);
        j = std::min(j, n);
        a.name.assign(s.substr(start, j - start));
        size_t k = j;
        while (k < n && IsTagSpace(s[k])) ++k;
        if (k < n && s[k] == '=') {
            j = k + 1;
            while (j < n && IsTagSpace(s[j])) ++j;
            if (j >= n) return false;
            a.hasValue = true;
            if (s[j] == '"' || s[j] == '\'') {
                const char quote = s[j++];
                size_t v = j;
                while (v < n && s[v] != quote) v += CharLen(s, v);
                if (v >= n) return false;
                a.value.assign(s.substr(j, v - j));
                j = v + 1;
            } else {
                size_t v = j;
                while (v < n && !IsTagSpace(s[v]) && s[v] != '>') v += CharLen(s, v);
                v = std::min(v, n);
                a.value.assign(s.substr(j, v - j));
                j = v;
            }
        }
        t.attrs.push_back(std::move(a));
    }
}

// Named references resolved in attribute values: those that stand for ASCII characters.
char NamedReference(std::string_view name) {
    static const struct {
        std::string_view name;
        char c;
    } kNames[] = {
        {"amp", '&'},    {"lt", '<'},      {"gt", '>'},     {"quot", '"'},   {"apos", '\''},
        {"colon", ':'},  {"Tab", '\t'},    {"NewLine", '\n'}, {"sol", '/'},  {"lpar", '('},
        {"rpar", ')'},   {"period", '.'},  {"comma", ','},  {"excl", '!'},   {"num", '#'},
        {"quest", '?'},  {"equals", '='},  {"semi", ';'},   {"percnt", '%'}, {"plus", '+'},
        {"lowbar", '_'}, {"ast", '*'},     {"commat", '@'}, {"dollar", '$'}, {"bsol", '\\'},
        {"verbar", '|'}, {"grave", '`'},   {"Hat", '^'},    {"lsqb", '['},   {"rsqb", ']'},
        {"lcub", '{'},   {"rcub", '}'},    {"AMP", '&'},    {"LT", '<'},     {"GT", '>'},
        {"QUOT", '"'},
    };
    for (const auto& e : kNames)
        if (e.name == name) return e.c;
    return 0;
}

// The value as the browser will read it, as far as it matters here: character references of
// ASCII characters resolved (numeric ones with or without ";"), every other reference left as
// its text (it is escaped when written, so the browser then reads that text too). Control
// bytes and stray lead bytes are dropped.
std::string AttributeValue(std::string_view raw) {
    std::string v;
    const size_t n = raw.size();
    size_t i = 0;
    while (i < n) {
        if (raw[i] != '&') {
            size_t len = CharLen(raw, i);
            v.append(raw.substr(i, len));
            i += len;
            continue;
        }
        size_t j = i + 1;
        if (j < n && raw[j] == '#') {
            ++j;
            bool hex = j < n && (raw[j] == 'x' || raw[j] == 'X');
            if (hex) ++j;
            size_t digits = j;
            long code = 0;
            while (j < n) {
                char c = raw[j];
                int d = -1;
                if (c >= '0' && c <= '9') d = c - '0';
                else if (hex && c >= 'a' && c <= 'f') d = c - 'a' + 10;
                else if (hex && c >= 'A' && c <= 'F') d = c - 'A' + 10;
                if (d < 0) break;
                if (code < 0x110000) code = code * (hex ? 16 : 10) + d;
                ++j;
            }
            if (j > digits && code > 0 && code < 0x80) {
                if (j < n && raw[j] == ';') ++j;
                v.push_back(static_cast<char>(code));
                i = j;
                continue;
            }
        } else {
            while (j < n && IsAsciiAlnum(raw[j])) ++j;
            if (j < n && raw[j] == ';' && j > i + 1) {
                char c = NamedReference(raw.substr(i + 1, j - i - 1));
                if (c != 0) {
                    v.push_back(c);
                    i = j + 1;
                    continue;
                }
            }
        }
        v.push_back('&');
        ++i;
    }
    // Control bytes and stray lead bytes go.
    std::string out;
    out.reserve(v.size());
    for (size_t k = 0; k < v.size();) {
        unsigned char c = static_cast<unsigned char>(v[k]);
        size_t len = CharLen(v, k);
        if (len == 2) {
            out.append(v, k, 2);
        } else if (c >= 0x20 && !IsLeadByte(c)) {
            out.push_back(static_cast<char>(c));
        }
        k += len;
    }
    return out;
}

// A link or image address is allowed when it is relative or names an allowed scheme. The
// scheme is read as browsers read it after dropping blanks and control characters; anything
// that could make a scheme out of other characters is refused.
bool AddressAllowed(std::string_view value, bool image) {
    std::string t;
    for (char c : value)
        if (static_cast<unsigned char>(c) > 0x20) t.push_back(c);
    size_t k = t.find_first_of(":/?#");
    if (k == std::string::npos || t[k] != ':') return true;
    const std::string scheme = LowerAscii(t.substr(0, k));
    if (scheme == "http" || scheme == "https") return true;
    if (image) return false;
    return scheme == "mailto" || scheme == "ftp";
}

std::string TrimTagSpace(std::string_view s) {
    size_t a = 0, b = s.size();
    while (a < b && s[a] == ' ') ++a;
    while (b > a && s[b - 1] == ' ') --b;
    return std::string(s.substr(a, b - a));
}

void WriteOpeningTag(const Tag& t, const TagRule& rule, std::string& out) {
    out.push_back('<');
    out.append(t.name);
    std::vector<std::string> seen;
    for (const Attr& a : t.attrs) {
        const std::string lname = LowerAscii(a.name);
        if (!RuleAllows(rule, lname)) continue;
        if (std::find(seen.begin(), seen.end(), lname) != seen.end()) continue;  // first wins
        seen.push_back(lname);
        const bool isAddress = lname == "href" || lname == "src";
        if (!a.hasValue) {
            if (isAddress) continue;
            out.push_back(' ');
            out.append(a.name);
            continue;
        }
        std::string value = AttributeValue(a.value);
        if (isAddress) {
            value = TrimTagSpace(value);
            if (!AddressAllowed(value, lname == "src")) continue;
        }
        out.push_back(' ');
        out.append(a.name);
        out.append("=\"");
        out.append(HtmlEscape(value));
        out.push_back('"');
    }
    out.push_back('>');
}

// Index after the end tag of a script or style element whose content starts at from; the
// length of the text when the element is not closed.
size_t SkipRawElement(std::string_view s, size_t from, std::string_view lowerName) {
    const size_t n = s.size();
    for (size_t i = from; i + 2 + lowerName.size() <= n; ++i) {
        if (s[i] != '<' || s[i + 1] != '/') continue;
        if (LowerAscii(s.substr(i + 2, lowerName.size())) != lowerName) continue;
        size_t k = i + 2 + lowerName.size();
        if (k < n && !IsTagSpace(s[k]) && s[k] != '/' && s[k] != '>') continue;
        size_t close = s.find('>', k);
        return close == std::string_view::npos ? n : close + 1;
    }
    return n;
}

// An element the text opened: its name as written and in lower case.
struct OpenElement {
    std::string name;
    std::string lower;
};

}  // namespace

std::string CleanBodyHtml(std::string_view s) {
    std::string out;
    out.reserve(s.size() + s.size() / 8);
    std::vector<OpenElement> open;  // allowed elements opened by the text
    const size_t n = s.size();
    size_t i = 0;
    while (i < n) {
        const size_t len = CharLen(s, i);
        if (len == 2 || s[i] != '<') {
            out.append(s.substr(i, len));
            i += len;
            continue;
        }
        const char next = i + 1 < n ? s[i + 1] : '\0';
        const bool closing = next == '/';
        const size_t nameAt = i + 1 + (closing ? 1 : 0);
        const bool comment = next == '!' || next == '?';
        if (!comment && !(nameAt < n && IsAsciiAlpha(s[nameAt]))) {
            out.append("&lt;");  // a '<' that starts nothing
            ++i;
            continue;
        }
        Tag t;
        size_t end = std::string_view::npos;  // after the tag, comment or declaration
        if (comment && s.substr(i, 4) == "<!--") {
            end = s.find("-->", i + 4);
            if (end != std::string_view::npos) end += 3;
        } else if (comment) {
            end = s.find('>', i + 2);
            if (end != std::string_view::npos) end += 1;
        } else if (ParseTag(s, i, t)) {
            end = t.end;
        }
        if (end == std::string_view::npos) {
            // Unfinished: a browser takes the rest of the text into it. The rest is shown as
            // text, and the scan ends here, which keeps it linear.
            out.append(HtmlEscape(s.substr(i)));
            break;
        }
        const size_t start = i;
        i = end;
        if (comment) continue;  // comments and declarations are dropped

        const std::string lname = LowerAscii(t.name);
        if (!closing && IsDroppedWithContent(lname)) {
            i = SkipRawElement(s, t.end, lname);
            continue;
        }
        const TagRule* rule = FindRule(lname);
        if (rule == nullptr) {
            out.append(HtmlEscape(s.substr(start, end - start)));
        } else if (closing) {
            // Close only what this text opened, and everything opened inside it.
            auto it = std::find_if(open.rbegin(), open.rend(),
                                   [&](const OpenElement& o) { return o.lower == lname; });
            if (it != open.rend()) {
                const size_t keep = static_cast<size_t>(open.rend() - it) - 1;
                while (open.size() > keep + 1) {
                    out.append("</").append(open.back().name).append(">");
                    open.pop_back();
                }
                out.append("</").append(t.name).append(">");
                open.pop_back();
            }
        } else if (IsTablePart(lname) &&
                   std::none_of(open.begin(), open.end(),
                                [](const OpenElement& o) { return o.lower == "table"; })) {
            // dropped: no table of this text is open
        } else if (rule->isVoid) {
            WriteOpeningTag(t, *rule, out);
        } else if (open.size() < kMaxOpenElements) {
            WriteOpeningTag(t, *rule, out);
            open.push_back({t.name, lname});
        }
    }
    while (!open.empty()) {
        out.append("</").append(open.back().name).append(">");
        open.pop_back();
    }
    return out;
}
