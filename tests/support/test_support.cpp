#include "tests/support/test_support.h"

#include <cstdlib>
#include <fstream>
#include <iterator>

#include "common/unique_handle.h"

std::wstring Widen(const std::string& utf8) {
    if (utf8.empty()) {
        return std::wstring();
    }
    const int units =
        MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(units), L'\0');
    (void)MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), &wide[0],
                              units);
    return wide;
}

std::string Narrow(const std::wstring& wide) {
    if (wide.empty()) {
        return std::string();
    }
    const int bytes = WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()),
                                          nullptr, 0, nullptr, nullptr);
    std::string narrow(static_cast<std::size_t>(bytes), '\0');
    (void)WideCharToMultiByte(CP_UTF8, 0, wide.data(), static_cast<int>(wide.size()), &narrow[0],
                              bytes, nullptr, nullptr);
    return narrow;
}

std::string Environment(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

std::wstring WinePath(const std::string& linuxPath) {
    std::wstring path = (linuxPath.empty() || linuxPath[0] != '/' ? L"" : L"Z:") + Widen(linuxPath);
    for (wchar_t& c : path) {
        if (c == L'/') {
            c = L'\\';
        }
    }
    return path;
}

std::wstring BesideThisProgram(const std::wstring& name) {
    wchar_t self[MAX_PATH] = {};
    const DWORD length = GetModuleFileNameW(nullptr, self, MAX_PATH);
    const std::wstring path(self, length);
    return path.substr(0, path.find_last_of(L'\\') + 1) + name;
}

bool FileExists(const std::wstring& path) {
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool FileExists(const std::string& path) { return FileExists(Widen(path)); }

std::string ReadWholeFile(const std::wstring& path) {
    std::ifstream file(path.c_str(), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

std::string ReadWholeFile(const std::string& path) { return ReadWholeFile(Widen(path)); }

void WriteWholeFile(const std::wstring& path, const std::string& bytes) {
    std::ofstream file(path.c_str(), std::ios::binary | std::ios::trunc);
    file.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

void WriteWholeFile(const std::string& path, const std::string& bytes) {
    WriteWholeFile(Widen(path), bytes);
}

ProcessRun RunProcess(const std::wstring& program, const std::wstring& arguments,
                      bool captureOutput) {
    ProcessRun run;
    SECURITY_ATTRIBUTES inheritable{sizeof(inheritable), nullptr, TRUE};
    HANDLE readEnd = nullptr;
    HANDLE writeEnd = nullptr;
    if (captureOutput && !CreatePipe(&readEnd, &writeEnd, &inheritable, 0)) {
        return run;
    }
    const UniqueHandle reader = AdoptHandle(readEnd);
    UniqueHandle writer = AdoptHandle(writeEnd);
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    if (captureOutput) {
        (void)SetHandleInformation(reader.get(), HANDLE_FLAG_INHERIT, 0);
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdOutput = writer.get();
        startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    }
    std::wstring commandLine = L"\"" + program + L"\" " + arguments;
    PROCESS_INFORMATION created{};
    if (!CreateProcessW(program.c_str(), &commandLine[0], nullptr, nullptr, captureOutput, 0,
                        nullptr, nullptr, &startup, &created)) {
        return run;
    }
    const UniqueHandle thread = AdoptHandle(created.hThread);
    const UniqueHandle process = AdoptHandle(created.hProcess);
    writer.reset();
    char buffer[4096];
    DWORD read = 0;
    while (captureOutput && ReadFile(reader.get(), buffer, sizeof(buffer), &read, nullptr) &&
           read > 0) {
        run.output.append(buffer, read);
    }
    run.ended = WaitForSingleObject(process.get(), kProcessBoundMs) == WAIT_OBJECT_0;
    if (!run.ended) {
        (void)TerminateProcess(process.get(), 1);
        (void)WaitForSingleObject(process.get(), kProcessBoundMs);
    }
    (void)GetExitCodeProcess(process.get(), &run.exitCode);
    return run;
}
