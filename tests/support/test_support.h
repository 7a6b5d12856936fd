#pragma once

#include <windows.h>

#include <string>

// What the test programs share: text and path conversion, whole-file reads and writes, and
// child processes run to their end within a bound.

// How long a child process of a test may run before it is ended.
inline constexpr DWORD kProcessBoundMs = 120000;

std::wstring Widen(const std::string& utf8);
std::string Narrow(const std::wstring& wide);

// The variable's value, empty when it is not set.
std::string Environment(const char* name);

// A Linux path (ctest hands the tests those) as Wine shows it, on drive Z:.
std::wstring WinePath(const std::string& linuxPath);

// A program built into the same folder as this test program.
std::wstring BesideThisProgram(const std::wstring& name);

// Paths as UTF-16, or as UTF-8 text.
bool FileExists(const std::wstring& path);
bool FileExists(const std::string& path);
std::string ReadWholeFile(const std::wstring& path);
std::string ReadWholeFile(const std::string& path);
void WriteWholeFile(const std::wstring& path, const std::string& bytes);
void WriteWholeFile(const std::string& path, const std::string& bytes);

// A child process: whether it ended within kProcessBoundMs (it is ended otherwise), its exit
// code, and what it wrote to its standard output when that was asked for.
struct ProcessRun {
    bool ended = false;
    DWORD exitCode = STILL_ACTIVE;
    std::string output;
};
ProcessRun RunProcess(const std::wstring& program, const std::wstring& arguments,
                      bool captureOutput = false);
