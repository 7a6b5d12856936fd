#pragma once

// Opens the web page in the default browser as the signed-in user, not as this elevated
// process: through the desktop shell's own ShellExecute. Where no desktop shell takes the call
// within a few seconds, nothing is opened. Nothing waits for the browser; a failure to start it
// is not reported.
void OpenAsDesktopUser(const wchar_t* url);
