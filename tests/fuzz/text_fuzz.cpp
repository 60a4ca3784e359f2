// The text conversions of message bodies on arbitrary text, each within the work size and a
// small capacity, where cutting happens.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "cgi/text.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string input(reinterpret_cast<const char*>(data), size);
    for (size_t capacity : {kWorkSize, size_t{64}}) {
        using Conversion = void (*)(std::string&, size_t);
        const Conversion conversions[] = {LinkUrls,   LineBreaksToHtml, DropLineFeeds,
                                          QuoteLines, GroupThousands,   TrimTrailingSpaces,
                                          UpperCaseAscii, DayBefore};
        for (Conversion convert : conversions) {
            std::string text = input;
            convert(text, capacity);
            if (input.size() < capacity && text.size() > capacity - 1) abort();
        }
        std::string text = input;
        ColorQuotes(text, "FF0000", capacity);
        if (input.size() < capacity && text.size() > capacity - 1) abort();
    }
    return 0;
}
