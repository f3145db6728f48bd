// Panels from resource files (with their tab pages and callbacks bound by
// name), panel attributes, menu bars and popups.
#include <filesystem>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/os/os.h"
#include "platform/ui/runtime_internal.h"

namespace ui {
namespace core {

std::filesystem::path ResolveResourcePath(const std::string& file) {
    std::filesystem::path path(file);
    if (path.is_absolute()) return path;
    std::filesystem::path beside = std::filesystem::path(os::ExecutableDirectory()) / path;
    std::error_code ec;
    if (std::filesystem::exists(beside, ec)) return beside;
    return path;  // relative to the working directory
}

bool LoadResource(const std::string& file, detail::ResourceFile* resource) {
    std::string error;
    if (!detail::ParseResourceFile(ResolveResourcePath(file).string(), resource, &error)) {
        lastLoadError = error;
        return false;
    }
    return true;
}

// Checks that every callback a panel names is registered (callbackMutex held).
bool CallbacksKnownLocked(const detail::PanelTemplate& panel, const std::string& file) {
    Runtime& r = R();
    auto known = [&](const std::string& name, const std::string& where) {
        if (name.empty() || r.callbacks.count(name)) return true;
        lastLoadError = file + ": " + where + ": unknown callback \"" + name + "\"";
        return false;
    };
    if (!known(panel.callbackName, "panel " + panel.name)) return false;
    for (const detail::ControlTemplate& c : panel.controls) {
        if (!known(c.callbackName, "panel " + panel.name + " control " + c.state.name)) return false;
        for (const detail::PanelTemplate& page : c.pages)
            if (!CallbacksKnownLocked(page, file)) return false;
    }
    return true;
}

bool BindCallbacks(const detail::PanelTemplate& panel, const std::string& file) {
    std::lock_guard lock(R().callbackMutex);
    return CallbacksKnownLocked(panel, file);
}

CtrlCallbackPtr CallbackNamed(const std::string& name) {
    if (name.empty()) return nullptr;
    Runtime& r = R();
    std::lock_guard lock(r.callbackMutex);
    auto it = r.callbacks.find(name);
    return it == r.callbacks.end() ? nullptr : it->second;
}

void ScreenSizeOrDefault(int* height, int* width) {
    *height = 1080;
    *width = 1920;
    if (FrontEnd* fe = R().frontEnd.load()) fe->ScreenSize(height, width);
}

// Creates the panel and its tab pages (model lock held). Returns the handle.
int InstantiatePanel(const detail::PanelTemplate& t, int parent, int tabControl, int pageIndex,
                     int screenHeight, int screenWidth, const std::string& statusBox) {
    Runtime& r = R();
    int handle = r.nextHandle++;
    Panel& panel = r.panels[handle];
    panel.s.handle = handle;
    panel.s.parent = parent;
    panel.s.tabControl = tabControl;
    panel.s.pageIndex = pageIndex;
    panel.s.name = t.name;
    panel.s.title = t.title;
    panel.s.width = t.width;
    panel.s.height = t.height;
    panel.s.left = t.left.value_or((screenWidth - t.width) / 2);
    panel.s.top = t.top.value_or((screenHeight - t.height) / 2);
    panel.s.visible = pageIndex >= 0;  // tab pages show with their tab control
    panel.callback = CallbackNamed(t.callbackName);
    panel.s.hasCloseCallback = panel.callback != nullptr;
    panel.s.resizable = t.resizable;
    panel.s.minWidth = t.minWidth;
    panel.s.minHeight = t.minHeight;
    panel.s.maximized = t.maximized;
    TouchPanel(panel);
    for (const detail::ControlTemplate& ct : t.controls) {
        Control c;
        c.s = ct.state;
        c.callback = CallbackNamed(ct.callbackName);
        c.s.hasCallback = c.callback != nullptr;
        c.defaultValue = ct.defaultValue;
        c.defaultIndex = ct.defaultIndex;
        TouchControl(c);
        r.panels[handle].controls[c.s.id] = std::move(c);
    }
    for (const detail::ControlTemplate& ct : t.controls) {
        for (size_t i = 0; i < ct.pages.size(); ++i) {
            int page = InstantiatePanel(ct.pages[i], handle, ct.state.id, static_cast<int>(i),
                                        screenHeight, screenWidth, statusBox);
            Control& tab = r.panels[handle].controls[ct.state.id];
            tab.s.pages.push_back(page);
            TouchControl(tab);
        }
    }
    // The status box may sit on a tab page as well as on a panel.
    if (!statusBox.empty() && r.statusPanel == 0) {
        size_t dot = statusBox.find('.');
        if (dot != std::string::npos && statusBox.substr(0, dot) == t.name) {
            for (const auto& [id, c] : r.panels[handle].controls) {
                if (c.s.name == statusBox.substr(dot + 1)) {
                    r.statusPanel = handle;
                    r.statusControl = id;
                }
            }
        }
    }
    return handle;
}

void CollectPanelTree(int handle, std::vector<int>* out) {
    out->push_back(handle);
    for (const auto& [h, p] : R().panels)
        if (p.s.parent == handle) CollectPanelTree(h, out);
}

}  // namespace core

using namespace core;

namespace detail {

int FirstDisplayedPanel() {
    Runtime& r = R();
    std::lock_guard lock(r.modelMutex);
    for (int handle : r.displayOrder)
        if (r.panels.count(handle)) return handle;
    return 0;
}

bool FindMenuItemByName(const std::string& name, int* menuBar, int* item) {
    std::string prefix, itemName = name;
    if (size_t dot = name.find('.'); dot != std::string::npos) {
        prefix = name.substr(0, dot);
        itemName = name.substr(dot + 1);
    }
    Runtime& r = R();
    std::lock_guard lock(r.modelMutex);
    for (const auto& [handle, bar] : r.menuBars) {
        for (const MenuState& menu : bar.s.menus) {
            if (!prefix.empty() && prefix != bar.name && prefix != menu.name) continue;
            for (const MenuItemState& i : menu.items)
                if (!i.separator && i.name == itemName) {
                    *menuBar = handle;
                    *item = i.id;
                    return true;
                }
        }
    }
    return false;
}

bool PanelHasCloseCallback(int panel) {
    Runtime& r = R();
    std::lock_guard lock(r.modelMutex);
    Panel* p = FindPanelLocked(panel);
    return p && p->callback;
}

}  // namespace detail

// ---- panels --------------------------------------------------------------------------------

int LoadPanel(int parent, const std::string& file, int resourceNumber) {
    lastLoadError.clear();
    detail::ResourceFile resource;
    if (!LoadResource(file, &resource)) return UIE_BAD_RESOURCE_FILE;
    const detail::PanelTemplate* found = nullptr;
    for (const detail::PanelTemplate& p : resource.panels)
        if (p.resource == resourceNumber) found = &p;
    if (!found) {
        lastLoadError = file + ": no panel with resource number " + std::to_string(resourceNumber);
        return UIE_RESOURCE_NOT_FOUND;
    }
    if (!BindCallbacks(*found, file)) return UIE_UNKNOWN_CALLBACK;
    int screenHeight, screenWidth;
    ScreenSizeOrDefault(&screenHeight, &screenWidth);
    int handle;
    {
        std::lock_guard lock(R().modelMutex);
        if (parent != 0 && !FindPanelLocked(parent)) return UIE_BAD_PANEL_HANDLE;
        handle = InstantiatePanel(*found, parent, 0, -1, screenHeight, screenWidth,
                                  resource.statusBox);
    }
    NotifyFrontEnd();
    return handle;
}

int DisplayPanel(int panel) {
    return ChangePanel(panel, [&](Panel& p) {
        p.s.visible = true;
        auto& order = R().displayOrder;
        if (std::find(order.begin(), order.end(), panel) == order.end()) order.push_back(panel);
        return 0;
    });
}

int HidePanel(int panel) {
    return ChangePanel(panel, [](Panel& p) {
        p.s.visible = false;
        return 0;
    });
}

int DiscardPanel(int panel) {
    {
        std::lock_guard lock(R().modelMutex);
        if (!FindPanelLocked(panel)) return UIE_BAD_PANEL_HANDLE;
        std::vector<int> tree;
        CollectPanelTree(panel, &tree);
        for (int handle : tree) {
            R().panels.erase(handle);
            if (R().statusPanel == handle) R().statusPanel = R().statusControl = 0;
        }
        for (auto it = R().menuBars.begin(); it != R().menuBars.end();)
            it = std::find(tree.begin(), tree.end(), it->second.s.panel) != tree.end()
                     ? R().menuBars.erase(it)
                     : std::next(it);
        ++R().version;
    }
    NotifyFrontEnd();
    return 0;
}

int SetPanelAttribute(int panel, int attribute, int value) {
    int screenHeight = 0, screenWidth = 0;
    if (value == VAL_AUTO_CENTER) ScreenSizeOrDefault(&screenHeight, &screenWidth);
    return ChangePanel(panel, [&](Panel& p) {
        switch (attribute) {
            case ATTR_WIDTH:
                if (value <= 0) return UIE_BAD_ARGUMENT;
                p.s.width = value;
                return 0;
            case ATTR_HEIGHT:
                if (value <= 0) return UIE_BAD_ARGUMENT;
                p.s.height = value;
                return 0;
            case ATTR_LEFT:
                p.s.left = value == VAL_AUTO_CENTER ? (screenWidth - p.s.width) / 2 : value;
                return 0;
            case ATTR_TOP:
                p.s.top = value == VAL_AUTO_CENTER ? (screenHeight - p.s.height) / 2 : value;
                return 0;
            case ATTR_VISIBLE: p.s.visible = value != 0; return 0;
            case ATTR_DIMMED: p.s.dimmed = value != 0; return 0;
            default: return UIE_BAD_ATTRIBUTE;
        }
    });
}

int SetPanelAttribute(int panel, int attribute, const std::string& value) {
    if (attribute != ATTR_TITLE) return UIE_BAD_ATTRIBUTE;
    return ChangePanel(panel, [&](Panel& p) {
        p.s.title = value;
        return 0;
    });
}

int GetPanelAttribute(int panel, int attribute, int* value) {
    if (!value) return UIE_BAD_ARGUMENT;
    std::lock_guard lock(R().modelMutex);
    Panel* p = FindPanelLocked(panel);
    if (!p) return UIE_BAD_PANEL_HANDLE;
    switch (attribute) {
        case ATTR_WIDTH: *value = p->s.width; return 0;
        case ATTR_HEIGHT: *value = p->s.height; return 0;
        case ATTR_LEFT: *value = p->s.left; return 0;
        case ATTR_TOP: *value = p->s.top; return 0;
        case ATTR_VISIBLE: *value = p->s.visible; return 0;
        case ATTR_DIMMED: *value = p->s.dimmed; return 0;
        case ATTR_PANEL_PARENT: *value = p->s.parent; return 0;
        default: return UIE_BAD_ATTRIBUTE;
    }
}

int GetPanelAttribute(int panel, int attribute, std::string* value) {
    if (!value) return UIE_BAD_ARGUMENT;
    std::lock_guard lock(R().modelMutex);
    Panel* p = FindPanelLocked(panel);
    if (!p) return UIE_BAD_PANEL_HANDLE;
    if (attribute == ATTR_TITLE) *value = p->s.title;
    else if (attribute == ATTR_CONSTANT_NAME) *value = p->s.name;
    else return UIE_BAD_ATTRIBUTE;
    return 0;
}

int SetPanelSize(int panel, int height, int width) {
    int status = SetPanelAttribute(panel, ATTR_HEIGHT, height);
    return status < 0 ? status : SetPanelAttribute(panel, ATTR_WIDTH, width);
}

int SetPanelPos(int panel, int top, int left) {
    int status = SetPanelAttribute(panel, ATTR_TOP, top);
    return status < 0 ? status : SetPanelAttribute(panel, ATTR_LEFT, left);
}

int GetScreenSize(int* height, int* width) {
    if (!height || !width) return UIE_BAD_ARGUMENT;
    ScreenSizeOrDefault(height, width);
    return 0;
}

int FindPanel(const std::string& panelName) {
    std::lock_guard lock(R().modelMutex);
    for (const auto& [handle, p] : R().panels)
        if (p.s.name == panelName) return handle;
    return UIE_RESOURCE_NOT_FOUND;
}

int FindControl(int panel, const std::string& controlName) {
    std::lock_guard lock(R().modelMutex);
    Panel* p = FindPanelLocked(panel);
    if (!p) return UIE_BAD_PANEL_HANDLE;
    for (const auto& [id, c] : p->controls)
        if (c.s.name == controlName) return id;
    return UIE_BAD_CONTROL_ID;
}

int GetStatusBox(int* panel, int* control) {
    std::lock_guard lock(R().modelMutex);
    if (R().statusPanel == 0) return UIE_RESOURCE_NOT_FOUND;
    if (panel) *panel = R().statusPanel;
    if (control) *control = R().statusControl;
    return 0;
}

// ---- menu bars -----------------------------------------------------------------------------

int LoadMenuBar(int panel, const std::string& file, int resourceNumber) {
    lastLoadError.clear();
    detail::ResourceFile resource;
    if (!LoadResource(file, &resource)) return UIE_BAD_RESOURCE_FILE;
    const detail::MenuBarTemplate* found = nullptr;
    for (const detail::MenuBarTemplate& bar : resource.menuBars)
        if (bar.resource == resourceNumber) found = &bar;
    if (!found) {
        lastLoadError = file + ": no menu bar with resource number " + std::to_string(resourceNumber);
        return UIE_RESOURCE_NOT_FOUND;
    }
    MenuBar bar;
    bar.name = found->name;
    bar.s.menus = found->menus;
    {
        std::lock_guard lock(R().callbackMutex);
        for (const auto& [item, name] : found->itemCallbacks) {
            auto it = R().menuCallbacks.find(name);
            if (it == R().menuCallbacks.end()) {
                lastLoadError = file + ": menu bar " + found->name + ": unknown callback \"" + name + "\"";
                return UIE_UNKNOWN_CALLBACK;
            }
            bar.callbacks[item] = it->second;
        }
    }
    int handle;
    {
        std::lock_guard lock(R().modelMutex);
        Panel* p = FindPanelLocked(panel);
        if (!p) return UIE_BAD_PANEL_HANDLE;
        handle = R().nextHandle++;
        bar.s.handle = handle;
        bar.s.panel = panel;
        bar.s.version = ++R().version;
        R().menuBars[handle] = std::move(bar);
        p->s.menuBar = handle;
        TouchPanel(*p);
    }
    NotifyFrontEnd();
    return handle;
}

int DiscardMenuBar(int menuBar) {
    {
        std::lock_guard lock(R().modelMutex);
        auto it = R().menuBars.find(menuBar);
        if (it == R().menuBars.end()) return UIE_BAD_MENU_HANDLE;
        if (Panel* p = FindPanelLocked(it->second.s.panel)) {
            p->s.menuBar = 0;
            TouchPanel(*p);
        }
        R().menuBars.erase(it);
    }
    NotifyFrontEnd();
    return 0;
}

namespace core {

MenuItemState* FindMenuItemLocked(MenuBar& bar, int item) {
    for (MenuState& menu : bar.s.menus)
        for (MenuItemState& i : menu.items)
            if (!i.separator && i.id == item) return &i;
    return nullptr;
}

}  // namespace core

int SetMenuBarAttribute(int menuBar, int menuItem, int attribute, int value) {
    {
        std::lock_guard lock(R().modelMutex);
        auto it = R().menuBars.find(menuBar);
        if (it == R().menuBars.end()) return UIE_BAD_MENU_HANDLE;
        MenuItemState* item = FindMenuItemLocked(it->second, menuItem);
        if (!item) return UIE_BAD_ITEM;
        if (attribute == ATTR_DIMMED) {
            auto held = it->second.held.find(menuItem);
            if (held != it->second.held.end()) held->second.ownDimmed = value != 0;
            else item->dimmed = value != 0;
        } else if (attribute == ATTR_CHECKED) item->checked = value != 0;
        else return UIE_BAD_ATTRIBUTE;
        it->second.s.version = ++R().version;
    }
    NotifyFrontEnd();
    return 0;
}

int GetMenuBarAttribute(int menuBar, int menuItem, int attribute, int* value) {
    if (!value) return UIE_BAD_ARGUMENT;
    std::lock_guard lock(R().modelMutex);
    auto it = R().menuBars.find(menuBar);
    if (it == R().menuBars.end()) return UIE_BAD_MENU_HANDLE;
    MenuItemState* item = FindMenuItemLocked(it->second, menuItem);
    if (!item) return UIE_BAD_ITEM;
    if (attribute == ATTR_DIMMED) *value = item->dimmed;
    else if (attribute == ATTR_CHECKED) *value = item->checked;
    else return UIE_BAD_ATTRIBUTE;
    return 0;
}

int FindMenuItem(int menuBar, const std::string& itemName) {
    std::lock_guard lock(R().modelMutex);
    auto it = R().menuBars.find(menuBar);
    if (it == R().menuBars.end()) return UIE_BAD_MENU_HANDLE;
    for (const MenuState& menu : it->second.s.menus)
        for (const MenuItemState& item : menu.items)
            if (!item.separator && item.name == itemName) return item.id;
    return UIE_BAD_ITEM;
}

// ---- popups --------------------------------------------------------------------------------

int MessagePopup(const std::string& title, const std::string& message) {
    FrontEnd* fe = R().frontEnd.load();
    if (!fe) return 0;
    // A message during long work only informs: the work goes on while it is read.
    if (WorkInProgress() && IsDispatchThread())
        fe->ShowMessageWithoutWaiting(title, message);
    else
        fe->ShowMessage(title, message);
    return 0;
}

int ConfirmPopup(const std::string& title, const std::string& message) {
    FrontEnd* fe = R().frontEnd.load();
    return fe ? (fe->AskConfirm(title, message) ? 1 : 0) : 1;
}

int FileSelectPopup(const std::string& defaultDirectory, const std::string& defaultPattern,
                    const std::string& patternList, const std::string& title, int buttonLabel,
                    std::string* path) {
    if (!path) return UIE_BAD_ARGUMENT;
    FrontEnd* fe = R().frontEnd.load();
    if (!fe) return VAL_NO_FILE_SELECTED;
    // The programs may name the folder in its logical form ("E:\\DRAV_Data").
    FileRequest request{defaultDirectory.empty() ? "" : os::HostPath(defaultDirectory),
                        defaultPattern, patternList, title, buttonLabel == VAL_SAVE_BUTTON};
    std::optional<std::string> chosen = fe->AskFile(request);
    if (!chosen || chosen->empty()) return VAL_NO_FILE_SELECTED;
    *path = *chosen;
    std::error_code ec;
    return std::filesystem::exists(*chosen, ec) ? VAL_EXISTING_FILE_SELECTED : VAL_NEW_FILE_SELECTED;
}

int DirSelectPopup(const std::string& defaultDirectory, const std::string& title,
                   std::string* path) {
    if (!path) return UIE_BAD_ARGUMENT;
    FrontEnd* fe = R().frontEnd.load();
    if (!fe) return 0;
    FileRequest request;
    request.defaultDirectory = defaultDirectory.empty() ? "" : os::HostPath(defaultDirectory);
    request.title = title;
    request.folder = true;
    std::optional<std::string> chosen = fe->AskFile(request);
    if (!chosen || chosen->empty()) return 0;
    *path = *chosen;
    return 1;
}

}  // namespace ui
