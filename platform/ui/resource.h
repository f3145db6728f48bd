// Parsed form of a resource file (docs/resources.md). Internal to the
// run-time: LoadPanel and LoadMenuBar instantiate these templates.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <vector>

#include "platform/ui/frontend.h"

namespace ui::detail {

struct PanelTemplate;

struct ControlTemplate {
    ControlState state;        // value, items, geometry ... as loaded
    std::string callbackName;  // "" = none
    Value defaultValue = 0;
    int defaultIndex = 0;
    std::vector<PanelTemplate> pages;  // tab controls only
};

struct PanelTemplate {
    int resource = 0;
    std::string name;
    std::string title;  // a tab page's label
    int width = 0, height = 0;
    std::optional<int> top, left;
    bool resizable = false;
    int minWidth = 0, minHeight = 0;
    bool maximized = false;
    std::string callbackName;
    std::vector<ControlTemplate> controls;
};

struct MenuBarTemplate {
    int resource = 0;
    std::string name;
    std::vector<MenuState> menus;
    std::map<int, std::string> itemCallbacks;  // item id -> callback name
};

struct ResourceFile {
    std::vector<PanelTemplate> panels;
    std::vector<MenuBarTemplate> menuBars;
    std::string statusBox;  // "PANEL.CONTROL" or ""
};

// Parses a resource file. False with a message naming the file and the
// problem when it cannot be read or does not describe valid panels.
bool ParseResourceFile(const std::string& path, ResourceFile* out, std::string* error);
bool ParseResourceText(const std::string& text, const std::string& fileName, ResourceFile* out,
                       std::string* error);

}  // namespace ui::detail
