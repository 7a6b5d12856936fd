#pragma once

// Timing of a program's start-up from inside it, step by step, for the start-up benchmark.
// Each step's duration comes from the performance counter; the time before the entry point
// from the process's creation time, kept in the system clock.

#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "common/unique_handle.h"

class StepClock {
  public:
    StepClock() {
        (void)QueryPerformanceFrequency(&frequency_);
        (void)QueryPerformanceCounter(&entry_);
        last_ = entry_;
    }

    // Ends the step of the given name; its duration joins the report.
    void Step(const char* name) {
        LARGE_INTEGER now{};
        (void)QueryPerformanceCounter(&now);
        char field[64];
        (void)std::snprintf(field, sizeof(field), " %s_ms=%.3f", name, Milliseconds(last_, now));
        steps_ += field;
        last_ = now;
    }

    // Writes "ok=1 load_ms=… main_ms=…" and the steps to the file named by
    // HALVEX_STEPS_REPORT; without that variable, nothing.
    void Report(double loadMs) const {
        wchar_t path[MAX_PATH];
        const DWORD length = GetEnvironmentVariableW(L"HALVEX_STEPS_REPORT", path, MAX_PATH);
        if (length == 0 || length >= MAX_PATH) {
            return;
        }
        char totals[96];
        (void)std::snprintf(totals, sizeof(totals), "ok=1 load_ms=%.3f main_ms=%.3f", loadMs,
                            Milliseconds(entry_, last_));
        const std::string line = totals + steps_ + "\n";
        const UniqueHandle file = AdoptHandle(CreateFileW(
            path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        DWORD written = 0;
        (void)WriteFile(file.get(), line.data(), static_cast<DWORD>(line.size()), &written,
                        nullptr);
    }

    // Time from this process's creation to now: the image, its imported DLLs and the
    // runtime's start-up, before the entry point runs.
    static double MillisecondsSinceCreation() {
        FILETIME created{};
        FILETIME exited{};
        FILETIME kernel{};
        FILETIME user{};
        FILETIME now{};
        GetSystemTimeAsFileTime(&now);
        if (!GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user)) {
            return -1;
        }
        return static_cast<double>(Ticks(now) - Ticks(created)) / 1e4;
    }

  private:
    static std::uint64_t Ticks(const FILETIME& time) {
        return (static_cast<std::uint64_t>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
    }
    double Milliseconds(const LARGE_INTEGER& from, const LARGE_INTEGER& to) const {
        return static_cast<double>(to.QuadPart - from.QuadPart) * 1000.0 /
               static_cast<double>(frequency_.QuadPart);
    }

    LARGE_INTEGER frequency_{};
    LARGE_INTEGER entry_{};
    LARGE_INTEGER last_{};
    std::string steps_;
};
