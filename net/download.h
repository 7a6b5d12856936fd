#pragma once

#include <string>

#include "common/unique_handle.h"
#include "net/progress_callback.h"
#include "net/proxy_choice.h"

// Fetches an https URL with GET into savePath, a UTF-8 file name. Without a proxy script,
// WinHTTP follows https redirects by itself (up to its default of 10); while a script is in use,
// this code follows them, asking the script about each target. Of the redirects that reach this
// code, at most two are followed. On failure returns false, replaces errorMessage with one fixed
// English text and leaves no file behind. On success the file holds exactly the body that
// arrived; when heldFile is given it receives a read handle that keeps other processes from
// writing, renaming or deleting the file until the caller lets it go. chooseRoute gives each
// request's ways. Never throws.
bool DownloadFile(const std::string& url, const std::string& savePath, std::string& errorMessage,
                  const ProgressCallback& progress, UniqueHandle* heldFile = nullptr,
                  RouteChooser chooseRoute = ChooseProxy);
