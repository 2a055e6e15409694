// Settings files: parsed, written back at the size they reckon, and parsed again to the same
// entries.
#include "core/filesystem/SettingsFile.h"
#include "core/scenefile/SceneSaver.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    quarn::SettingsFile settings;
    settings.Parse(reinterpret_cast<const char*>(data), size);
    for (int i = 0; i < settings.GetCount(); ++i) {
        const char* key = settings.GetKeyAt(i);
        settings.GetInt(key);
        settings.GetInt2(key);
        settings.GetBool(key);
    }

    // Every parsed entry can be read back as it is.
    quarn::GrowingOutputStream stream;
    if (!settings.Write(stream) || settings.GetSavedSize() != stream.GetText().size()) {
        std::abort();
    }
    quarn::SettingsFile again;
    again.Parse(stream.GetText().data(), stream.GetText().size());
    if (again.GetCount() != settings.GetCount()) {
        std::abort();
    }
    for (int i = 0; i < settings.GetCount(); ++i) {
        const char* key = settings.GetKeyAt(i);
        if (std::strcmp(key, again.GetKeyAt(i)) != 0 ||
            std::strcmp(settings.GetString(key), again.GetString(key)) != 0) {
            std::abort();
        }
    }
    return 0;
}
