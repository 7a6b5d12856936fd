// The smallest program that uses what the installer's design commits it to from the C++
// library: an ECMAScript std::regex match, a std::thread and a std::function. Built with
// the installer's toolchain and flags, its size is the floor for the installer's code.
#include <windows.h>

#include <functional>
#include <regex>
#include <string>
#include <thread>

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR commandLine, int) {
    const std::wstring line = commandLine;
    const std::string text(line.begin(), line.end());
    bool matched = false;
    const std::function<void()> match = [&text, &matched] {
        const std::regex pattern("https://([^/:]+)(:(\\d+))?(/.*)?", std::regex::ECMAScript);
        std::smatch parts;
        matched = std::regex_match(text, parts, pattern) && parts[1].length() > 0;
    };
    std::thread worker(match);
    worker.join();
    return matched ? 0 : 1;
}
