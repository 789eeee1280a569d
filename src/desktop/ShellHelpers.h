#pragma once
// Everything the rest of the player uses of the desktop, in one include: starting with the desktop
// (AutoRun.h), file-type registration (FileTypes.h), special folders, folder creation, the folder
// dialog and file-name cleaning (Folders.h), opening web pages (Shell.h), starting programs and the
// working-set trim (Process.h).

#include "desktop/AutoRun.h"
#include "desktop/FileTypes.h"
#include "desktop/Folders.h"
#include "desktop/Process.h"
#include "desktop/Shell.h"
#include "desktop/XdgPaths.h"
