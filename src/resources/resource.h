// Resources shared by the whole program: icons, the manifest and the version.
#pragma once

#define IDI_TRELVO 128
// The locked check mark of the operation list (state image 3).
#define IDI_LOCKED 143
