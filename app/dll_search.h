#pragma once

// The installer runs elevated, usually from Downloads: never resolve a DLL from there.
// Called at start-up right after EnforceRedirectionTrust (which loads no DLL), before any
// delay-loaded DLL is needed.
void LimitDllSearchToSystem32();
