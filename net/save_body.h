#pragma once

#include <windows.h>
#include <winhttp.h>

#include <string>

#include "common/unique_handle.h"
#include "net/progress_callback.h"

// Streams the body of a 200 response into savePath (UTF-8), then reopens the file through a
// handle that keeps other processes from writing, renaming or deleting it; heldFile (when
// given) receives that handle. On failure sets errorMessage to one fixed English text and
// leaves no file; neither does a process that ends while the body is being written.
bool SaveBody(HINTERNET request, const std::string& savePath, const ProgressCallback& progress,
              UniqueHandle* heldFile, std::string& errorMessage);
