#pragma once

#include <windows.h>

#include <memory>
#include <string>

#include "common/local_memory.h"

// Removes the folder it owns with everything in it; what cannot be removed now (a file still
// open by a program the setup left running) is removed at the next restart.
struct CleanRoomRemover {
    void operator()(const std::wstring* folder) const;
};
// The full path of one run's clean room, without a trailing separator.
using CleanRoom = std::unique_ptr<const std::wstring, CleanRoomRemover>;

using UniqueSecurityDescriptor = UniqueLocal<void>;

// Makes a new folder with an unguessable name under %SystemRoot%\Temp (not the user's
// %TEMP%, which the user's unelevated processes can write), owned by Administrators and open
// to SYSTEM and Administrators only, inheriting nothing. Empty when it cannot be made.
CleanRoom MakeCleanRoom();

// The descriptor the clean room is created with.
UniqueSecurityDescriptor CleanRoomSecurity();
