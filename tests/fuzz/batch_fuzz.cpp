// The batch upload file reader on arbitrary bytes.
#include <cstdint>
#include <string>

#include "board/batch.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    ParseBatchFile(std::string_view(reinterpret_cast<const char*>(data), size));
    return 0;
}
