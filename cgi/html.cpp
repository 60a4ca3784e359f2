#include "cgi/html.h"

std::string HtmlEscape(std::string_view text) {
    std::string out;
    out.reserve(text.size() + text.size() / 8);
    for (char c : text) {
        switch (c) {
            case '&': out.append("&amp;"); break;
            case '<': out.append("&lt;"); break;
            case '>': out.append("&gt;"); break;
            case '"': out.append("&quot;"); break;
            case '\'': out.append("&#39;"); break;
            default: out.push_back(c); break;
        }
    }
    return out;
}

static bool NeedsPercent(unsigned char c) {
    if (c < 0x20 || c == 0x7F) return true;
    switch (c) {
        case ' ': case '"': case '#': case '%': case '&': case '\'': case '+': case '<':
        case '>': case '?':
            return true;
        default:
            return false;
    }
}

std::string UrlEncodeValue(std::string_view text) {
    static const char kHex[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(text.size());
    for (char ch : text) {
        unsigned char c = static_cast<unsigned char>(ch);
        if (NeedsPercent(c)) {
            out.push_back('%');
            out.push_back(kHex[c >> 4]);
            out.push_back(kHex[c & 15]);
        } else {
            out.push_back(ch);
        }
    }
    return out;
}
