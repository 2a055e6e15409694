#pragma once

// The editor's main frame reads the same messages below the application, so they live in core.
#include "core/os/WindowMessage.h"
