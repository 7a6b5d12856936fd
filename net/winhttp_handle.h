#pragma once

#include <windows.h>
#include <winhttp.h>

#include <memory>

#include "common/closer.h"

// One owner per WinHTTP handle (session, connection or request).
using UniqueInternet = std::unique_ptr<void, Closer<WinHttpCloseHandle>>;
