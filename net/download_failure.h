#pragma once

#include <string>

// A failed step of the download: the caller's message becomes the step's one fixed text.
inline bool Fail(std::string& errorMessage, const std::string& message) {
    errorMessage = message;
    return false;
}
