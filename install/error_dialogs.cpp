#include "install/error_dialogs.h"

#include <shellapi.h>

#include "generated/vendor_urls.h"

void ShowErrorWithSupportLink(HWND owner, const std::wstring& message) {
    if (MessageBoxW(owner, message.c_str(), L"系统提示", MB_OKCANCEL | MB_ICONERROR) == IDOK) {
        // Nothing waits for the browser, and a failure to start it is not reported.
        (void)ShellExecuteW(nullptr, L"open", kSupportUrl, nullptr, nullptr, SW_SHOWNORMAL);
    }
}
