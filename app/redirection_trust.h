#pragma once

// Makes Windows refuse, for every path this elevated process opens, to follow a junction that
// a non-administrator created. Called first thing in wWinMain, before any file is touched;
// Windows without the policy refuses it, and the installer goes on as before.
void EnforceRedirectionTrust();
