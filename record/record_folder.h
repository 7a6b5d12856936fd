#pragma once

#include <string>
#include <string_view>

#include "common/unique_handle.h"

// The record folder `.halvex` in the given profile folder, created if missing, hidden, and
// held open so that it cannot be renamed or replaced while the handle lives. Null when it is
// a link, junction or mount point, or its final path is anything but the profile folder's own
// followed by `\.halvex`: then nothing has been created or changed.
UniqueHandle OpenRecordFolder(const std::wstring& profile);

// The normalised final path of an open file or folder; empty when Windows cannot tell.
std::wstring FinalPathOf(HANDLE handle);

// Whether `path` names exactly the child `name` of the folder `folder`, both final paths.
// Case does not matter, as for the file system's own names.
bool IsPathOfChild(std::wstring_view path, std::wstring_view folder, std::wstring_view name);
