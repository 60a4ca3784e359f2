// The settings file and language file readers on arbitrary file contents.
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <string>

#include "config/language.h"
#include "config/settings.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::string file = "/tmp/settings_fuzz." + std::to_string(getpid());
    std::ofstream(file, std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
    SystemSettings settings;
    MessageTable messages;
    LoadSettings(settings, messages, file);
    MessageTable table;
    LoadMessages(table, file);
    CommaTokens(std::string_view(reinterpret_cast<const char*>(data), size));
    return 0;
}
