#include "install/machine_environment.h"

#include <windows.h>

#include <knownfolders.h>
#include <objbase.h>
#include <shlobj.h>
#include <userenv.h>

#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

#include "common/closer.h"
#include "common/unique_handle.h"
#include "install/setup_environment.h"

namespace {

// From the machine's profile list, which the user cannot rewrite.
bool ProfileFolder(HANDLE token, std::wstring& folder) {
    DWORD size = 0;
    (void)GetUserProfileDirectoryW(token, nullptr, &size);
    if (size == 0) {
        return false;
    }
    std::wstring text(size, L'\0');
    if (!GetUserProfileDirectoryW(token, &text[0], &size)) {
        return false;
    }
    folder = text.c_str();
    return !folder.empty();
}

bool AccountName(HANDLE token, std::wstring& name, std::wstring& domain) {
    DWORD size = 0;
    (void)GetTokenInformation(token, TokenUser, nullptr, 0, &size);
    // Whole 8-byte units, so the SID pointer inside is aligned.
    std::vector<std::uint64_t> buffer((size + sizeof(std::uint64_t) - 1) / sizeof(std::uint64_t));
    if (buffer.empty() || !GetTokenInformation(token, TokenUser, buffer.data(), size, &size)) {
        return false;
    }
    const PSID sid = reinterpret_cast<const TOKEN_USER*>(buffer.data())->User.Sid;
    DWORD nameSize = 0;
    DWORD domainSize = 0;
    SID_NAME_USE use{};
    (void)LookupAccountSidW(nullptr, sid, nullptr, &nameSize, nullptr, &domainSize, &use);
    if (nameSize == 0 || domainSize == 0) {
        return false;
    }
    name.assign(nameSize, L'\0');
    domain.assign(domainSize, L'\0');
    if (!LookupAccountSidW(nullptr, sid, &name[0], &nameSize, &domain[0], &domainSize, &use)) {
        return false;
    }
    name.resize(nameSize);
    domain.resize(domainSize);
    return !name.empty();
}

// The account's own folder settings: the user may move these folders, as on any account.
bool KnownFolder(HANDLE token, REFKNOWNFOLDERID id, std::wstring& folder) {
    wchar_t* path = nullptr;
    const HRESULT result = SHGetKnownFolderPath(id, KF_FLAG_DONT_VERIFY, token, &path);
    const std::unique_ptr<wchar_t, Closer<CoTaskMemFree>> owned(path);
    if (FAILED(result) || path == nullptr) {
        return false;
    }
    folder = path;
    return !folder.empty();
}

}  // namespace

bool MachineEnvironment(const std::wstring& temp, std::wstring& block) {
    HANDLE rawToken = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY | TOKEN_IMPERSONATE | TOKEN_DUPLICATE,
                          &rawToken)) {
        return false;
    }
    const UniqueHandle token = AdoptHandle(rawToken);
    std::wstring profile;
    std::wstring name;
    std::wstring domain;
    std::wstring roaming;
    std::wstring local;
    if (!ProfileFolder(token.get(), profile) || !AccountName(token.get(), name, domain) ||
        !KnownFolder(token.get(), FOLDERID_RoamingAppData, roaming) ||
        !KnownFolder(token.get(), FOLDERID_LocalAppData, local)) {
        return false;
    }
    void* rawMachine = nullptr;
    // Without a token: the system's variables only. With one it would add the user's.
    if (!CreateEnvironmentBlock(&rawMachine, nullptr, FALSE)) {
        return false;
    }
    const std::unique_ptr<void, Closer<DestroyEnvironmentBlock>> machine(rawMachine);
    std::vector<EnvironmentVariable> variables = {{L"USERPROFILE", profile},
                                                  {L"USERNAME", name},
                                                  {L"USERDOMAIN", domain},
                                                  {L"APPDATA", roaming},
                                                  {L"LOCALAPPDATA", local},
                                                  {L"TEMP", temp},
                                                  {L"TMP", temp}};
    for (EnvironmentVariable& home : HomeVariables(profile)) {
        variables.push_back(std::move(home));
    }
    block = EnvironmentBlock(static_cast<const wchar_t*>(machine.get()), variables);
    return true;
}
