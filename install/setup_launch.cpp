#include "install/setup_launch.h"

#include <windows.h>

#include "common/unique_handle.h"

namespace {

// The job's completion messages are not guaranteed to arrive, so the count is read again
// at least this often.
constexpr DWORD kRecheckMilliseconds = 1000;

struct SetupJob {
    UniqueHandle job;
    UniqueHandle port;
};

// A job that reports to its own port when its last process ends. Its processes may leave it
// when they ask to (without this limit their start would fail), and closing it ends nothing.
SetupJob MakeSetupJob() {
    SetupJob made{AdoptHandle(CreateJobObjectW(nullptr, nullptr)),
                  AdoptHandle(CreateIoCompletionPort(INVALID_HANDLE_VALUE, nullptr, 0, 1))};
    if (!made.job || !made.port) {
        return {};
    }
    JOBOBJECT_ASSOCIATE_COMPLETION_PORT association{};
    association.CompletionKey = made.job.get();
    association.CompletionPort = made.port.get();
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
    limits.BasicLimitInformation.LimitFlags = JOB_OBJECT_LIMIT_BREAKAWAY_OK;
    if (!SetInformationJobObject(made.job.get(), JobObjectAssociateCompletionPortInformation,
                                 &association, sizeof(association)) ||
        !SetInformationJobObject(made.job.get(), JobObjectExtendedLimitInformation, &limits,
                                 sizeof(limits))) {
        return {};
    }
    return made;
}

bool ActiveProcesses(HANDLE job, DWORD& count) {
    JOBOBJECT_BASIC_ACCOUNTING_INFORMATION accounting{};
    if (!QueryInformationJobObject(job, JobObjectBasicAccountingInformation, &accounting,
                                   sizeof(accounting), nullptr)) {
        return false;
    }
    count = accounting.ActiveProcesses;
    return true;
}

void WaitForJob(const SetupJob& setup, HANDLE program) {
    DWORD count = 0;
    while (ActiveProcesses(setup.job.get(), count)) {
        if (count == 0) {
            return;
        }
        DWORD message = 0;
        ULONG_PTR key = 0;
        OVERLAPPED* overlapped = nullptr;
        if (GetQueuedCompletionStatus(setup.port.get(), &message, &key, &overlapped,
                                      kRecheckMilliseconds) &&
            message == JOB_OBJECT_MSG_ACTIVE_PROCESS_ZERO) {
            return;
        }
    }
    // The count cannot be read: the program itself is still waited for.
    (void)WaitForSingleObject(program, INFINITE);
}

}  // namespace

bool RunAndWaitForAll(const std::wstring& program, const std::wstring& folder,
                      std::wstring& environment) {
    const SetupJob setup = MakeSetupJob();
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION created{};
    // Suspended until it is in the job, so that nothing it starts can begin outside.
    if (!CreateProcessW(program.c_str(), nullptr, nullptr, nullptr, FALSE,
                        CREATE_UNICODE_ENVIRONMENT | CREATE_SUSPENDED, &environment[0],
                        folder.c_str(), &startup, &created)) {
        return false;
    }
    // Declared thread first so the process handle is closed first.
    const UniqueHandle thread = AdoptHandle(created.hThread);
    const UniqueHandle process = AdoptHandle(created.hProcess);
    const bool inJob = setup.job && AssignProcessToJobObject(setup.job.get(), process.get());
    if (ResumeThread(thread.get()) == static_cast<DWORD>(-1)) {
        // Never left suspended for ever, holding its files.
        (void)TerminateProcess(process.get(), 1);
        return false;
    }
    if (inJob) {
        WaitForJob(setup, process.get());
    } else {
        (void)WaitForSingleObject(process.get(), INFINITE);
    }
    return true;
}
