#pragma once

#include <windows.h>

#include <cstddef>
#include <string>
#include <vector>

#include "tests/support/test_support.h"

// What the gtest programs share about the stand-in vendor server and their scratch files.

struct LoggedRequest {
    std::string path;
    std::string user_agent;
};

// "https://localhost:PORT" of the fixture server.
std::string TestOrigin();

// A fresh tag for this process and call, to tell one test's requests from the others'.
std::string UniqueTag();

// Requests in the server's log whose path contains tag, in the order they arrived.
std::vector<LoggedRequest> LoggedRequestsWith(const std::string& tag);

// The server's test pattern: byte i is i % 251.
std::string PatternBytes(std::size_t count);

// A new empty folder under the temporary folder, as a UTF-8 path ending in a backslash.
std::string NewScratchFolder();
