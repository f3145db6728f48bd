// The data directory of an observing day: "E:\DRAV_Data\YYYYMMDD" with one
// folder per kind of target below "raw", and "cal" for flat-field runs.
// Built on every settings OK with the cameras on; every writer puts its
// files into it.
#pragma once

#include <string>

namespace pelu {

// Longest data directory accepted, so that every file path below it stays
// within what Windows allows (260) with room for the longest file name.
constexpr size_t kMaxDataDirectoryLength = 200;

// Folder piece appended to the day folder for a target selector value
// (-1..8); "" for none or a value outside the table. Target 8 gives "\raw\"
// and the caller appends the other-target text.
const char* TargetFolder(int target);

// Why `name` cannot be a folder below the data root, or "" when it can: it
// must be one plain folder name (no separators, no drive, not "." or "..",
// no control characters or characters Windows forbids, not empty).
std::string FolderNameRefusal(const std::string& name);

// Writes makefolder.bat in the working directory: "mkdir " and the path, no
// line end. 1 on success; 0 with the "info" popup when it cannot be written.
int makefolderscript(const std::string& path);

// Builds entire_directory from the day folder (UTC), the camera selection and
// the observation page's target, creating each level as it goes. A refused
// other-target text gives a popup, leaves the directory at the day folder
// and returns false.
bool BuildDataDirectory();

// Callback of the target ring: the active-region number is editable only for
// an active region, the free text only for "other".
int make_foldert_arget(int panel, int control, int event, void* callbackData, int eventData1,
                       int eventData2);

// Registers the data products' callbacks by name.
void RegisterDataCallbacks();

}  // namespace pelu
