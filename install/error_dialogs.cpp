#include "install/error_dialogs.h"

#include "generated/vendor_urls.h"
#include "install/open_as_user.h"

void ShowErrorWithSupportLink(HWND owner, const std::wstring& message) {
    if (MessageBoxW(owner, message.c_str(), L"系统提示", MB_OKCANCEL | MB_ICONERROR) == IDOK) {
        OpenAsDesktopUser(kSupportUrl);
    }
}
