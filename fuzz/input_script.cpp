// Input scripts (QUARN_INPUT): any bytes are parsed or refused with a line number.
#include "app/player/InputScript.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    quarn::InputScript script;
    std::string error;
    const bool parsed =
        script.Parse(std::string_view(reinterpret_cast<const char*>(data), size), error);
    if (parsed != error.empty() || (!parsed && error.rfind("line ", 0) != 0)) {
        std::abort();
    }
    return 0;
}
