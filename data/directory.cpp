#include "data/directory.h"

#include <cstdio>

#include "platform/os/os.h"
#include "platform/ui/ui.h"
#include "resources/pelu_uir.h"
#include "state/controls.h"
#include "state/instrument_state.h"
#include "state/status.h"

namespace pelu {
namespace {

constexpr int kOtherTarget = 8;
constexpr int kActiveRegion = 3;

int ObservationPage() {
    return SettingsPage(SETTINGS_TAB, OBS_PAGE_INDEX);
}

// Writes the batch file and creates the folder. The batch file is kept for
// whoever looks at the working directory; the folder is made directly, so
// that it exists before the first writer needs it and names with spaces work.
void MakeFolder(const std::string& path) {
    if (makefolderscript(path)) os::LaunchBatchFile("makefolder.bat");
    if (!os::MakeDirectories(path))
        ShowStatus(Format("\nThe data folder %s could not be created\n", path.c_str()));
}

}  // namespace

const char* TargetFolder(int target) {
    switch (target) {
        case 0: return "\\raw\\dc";
        case 1: return "\\raw\\limb";
        case 2: return "\\raw\\qr";
        case 3: return "\\raw\\ar";
        case 4: return "\\raw\\ch";
        case 5: return "\\raw\\sunspot";
        case 6: return "\\raw\\fil";
        case 7: return "\\raw\\prom";
        case 8: return "\\raw\\";
        default: return "";
    }
}

std::string FolderNameRefusal(const std::string& name) {
    if (name.empty()) return "it is empty";
    if (name == "." || name == "..") return "it names no folder of its own";
    for (unsigned char c : name) {
        if (c < 32 || c == 127) return "it holds a control character";
        if (c == '\\' || c == '/') return "it holds a path separator";
        if (c == ':') return "it holds a drive or stream separator ':'";
        if (c == '<' || c == '>' || c == '"' || c == '|' || c == '?' || c == '*')
            return Format("it holds the character %c, which folder names cannot have", c);
    }
    // Windows drops trailing dots and spaces, so "x." would silently become "x".
    if (name.back() == '.' || name.back() == ' ') return "it ends in a dot or a space";
    if (name.front() == ' ') return "it starts with a space";
    return "";
}

int makefolderscript(const std::string& path) {
    const std::string file = os::HostPath("makefolder.bat");
    FILE* out = file.empty() ? nullptr : std::fopen(file.c_str(), "w");
    if (!out) {
        ui::MessagePopup("info", "Fail to write file\n");
        return 0;
    }
    // Quoted: a folder name with blanks (an "other" target) is one path, not
    // several folders. Folder names never hold a quote (FolderNameRefusal).
    std::fputs("mkdir \"", out);
    std::fputs(path.c_str(), out);
    std::fputs("\"", out);
    const bool written = std::fclose(out) == 0;
    return written ? 1 : 0;
}

bool BuildDataDirectory() {
    const os::UtcTime now = os::UtcNow();
    state.entire_directory.clear();
    state.entire_directory += state.data_directory;
    state.entire_directory += Format("%.2d%.2d%.2d", now.year, now.month, now.day);
    MakeFolder(state.entire_directory);

    state.TabPanelHandle = ObservationPage();
    const int target = GetInt(state.TabPanelHandle, OBS_PAGE_TARGET);
    std::string subfolder;
    if (state.ccd_camera == kFlatFielding) {
        subfolder = "\\cal";
    } else {
        subfolder = TargetFolder(target);
        if (target == kOtherTarget) {
            const std::string other = GetText(state.TabPanelHandle, OBS_PAGE_OTHER_TARGET);
            std::string refusal = FolderNameRefusal(other);
            if (refusal.empty() &&
                state.entire_directory.size() + subfolder.size() + other.size() >
                    kMaxDataDirectoryLength)
                refusal = Format("the data directory would be longer than %zu characters",
                                 kMaxDataDirectoryLength);
            if (!refusal.empty()) {
                ui::MessagePopup("Error",
                                 Format("The other target \"%s\" cannot be a data folder: %s.\n"
                                        "Files go to %s until a valid target is set.",
                                        other.c_str(), refusal.c_str(),
                                        state.entire_directory.c_str()));
                ShowStatus(Format("\nData directory: %s\n", state.entire_directory.c_str()));
                return false;
            }
            subfolder += other;
        }
    }
    state.entire_directory += subfolder;
    if (!subfolder.empty()) MakeFolder(state.entire_directory);
    return true;
}

int make_foldert_arget(int, int, int event, void*, int, int) {
    if (event != ui::EVENT_COMMIT) return 0;
    state.TabPanelHandle = ObservationPage();
    const int target = GetInt(state.TabPanelHandle, OBS_PAGE_TARGET);
    SetDimmed(state.TabPanelHandle, OBS_PAGE_OTHER_TARGET, target != kOtherTarget);
    SetDimmed(state.TabPanelHandle, OBS_PAGE_ARNUMBER, target != kActiveRegion);
    return 0;
}

void RegisterDataCallbacks() { ui::RegisterCallback("make_foldert_arget", make_foldert_arget); }

}  // namespace pelu
