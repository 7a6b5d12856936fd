#pragma once

#include "common/unique_handle.h"

// Takes the installer's mutex in this logon session. When another installer already holds
// it, brings that one's box, or else its window if shown, to the front and returns false: this
// start must then touch nothing and exit. The mutex lives as long as claim does; it dies with the
// process, so a killed installer never blocks the next start.
bool ClaimSingleInstance(UniqueHandle& claim);
