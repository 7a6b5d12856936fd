#pragma once

// Opens the web page in the default browser as the signed-in user, not as this elevated
// process: through the desktop shell's own ShellExecute. Where no desktop shell answers within a
// few seconds, it falls back to this process's ShellExecuteW. Nothing waits for the browser; a
// failure to start it is not reported.
void OpenAsDesktopUser(const wchar_t* url);
