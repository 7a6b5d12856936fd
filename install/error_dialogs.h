#pragma once

#include <windows.h>

#include <string>

// Error box with OK and Cancel; OK opens the vendor's support page in the default browser.
void ShowErrorWithSupportLink(HWND owner, const std::wstring& message);
