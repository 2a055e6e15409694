#pragma once

#include <functional>

namespace quarn {

// Hears an error text the moment a service reports it (a broken scene block, a texture the
// device refuses); the text lives only for the call. The services also keep their last error
// for a getter, so the callback is optional and may be empty.
using ErrorCallback = std::function<void(const char* text)>;

} // namespace quarn
