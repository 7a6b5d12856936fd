#pragma once

// The installer runs elevated, usually from Downloads: never resolve a DLL from there.
// Called first thing, before any delay-loaded DLL is needed.
void LimitDllSearchToSystem32();
