#pragma once

#include <string>

#include "common/unique_handle.h"
#include "net/progress_callback.h"

// Fetches an https URL with GET (following at most two redirects) into savePath, a UTF-8
// file name. On failure returns false, replaces errorMessage with one fixed English text
// and leaves no file behind. On success the file holds exactly the body that arrived; when
// heldFile is given it receives a read handle that keeps other processes from writing,
// renaming or deleting the file until the caller lets it go. Never throws.
bool DownloadFile(const std::string& url, const std::string& savePath, std::string& errorMessage,
                  const ProgressCallback& progress, UniqueHandle* heldFile = nullptr);
