// The interface between the run-time core and a front-end that shows it.
//
// The core owns the model (panels, controls, menu bars). A front-end reads
// changes with TakeModelChanges() and turns user input into SetCtrlVal /
// PostEvent calls. The core tells the front-end that something changed with
// FrontEnd::ModelChanged(), at most once until the front-end has taken the
// changes again: a live view that redraws a picture a thousand times a second
// still costs the front-end one refresh per frame it draws.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "platform/ui/ui.h"

namespace ui {

using Value = std::variant<int, double, std::string>;

enum class ValueType { Int, Double, Text };

struct ListItem {
    std::string label;
    Value value;
};

struct TableColumn {
    std::string label;
    ValueType type = ValueType::Double;
    int width = 90;
    int precision = -1;  // decimals shown for doubles; -1: as many as the value needs
};

// Part of a text box's text shown in the warning colour: bytes [begin, end).
struct TextMark {
    size_t begin = 0;
    size_t end = 0;
};

// Which panel edges a control keeps its distance to when a resizable panel
// changes size (docs/resources.md, "anchor"). Left and right together: the
// control takes the extra width; right alone: it moves with the right edge.
// Top and bottom likewise.
constexpr int kAnchorLeft = 1;
constexpr int kAnchorTop = 2;
constexpr int kAnchorRight = 4;
constexpr int kAnchorBottom = 8;

struct ControlState {
    int id = 0;
    std::string name;  // symbolic name in the resource
    CtrlType type = CtrlType::Decoration;
    std::string label;
    int top = 0, left = 0, width = 0, height = 0;
    bool dimmed = false;
    bool visible = true;
    bool indicator = false;  // shows a value; the user cannot change it
    int anchors = kAnchorLeft | kAnchorTop;
    std::string tooltip;   // what the control is for, shown when the pointer rests on it
    std::string shortcut;  // key sequence that presses a command button ("Ctrl+R")
    ValueType valueType = ValueType::Int;
    Value value = 0;
    double minValue = 0, maxValue = 0;  // equal: no range
    int precision = 2;                  // decimals shown for doubles
    std::string onText, offText;        // toggles and lamps
    int onColor = VAL_GREEN;            // lamps
    // Ring, ListBox, Tree, RadioGroup
    std::vector<ListItem> items;
    int selected = -1;
    // Table
    std::vector<TableColumn> columns;
    std::vector<std::vector<Value>> cells;  // [row][column], 0-based here
    Point activeCell{1, 1};
    // Tab
    std::vector<int> pages;  // panel handles
    std::vector<std::string> pageLabels;
    std::vector<bool> pageDimmed;
    // Picture (shared and immutable: copying a snapshot does not copy pixels)
    std::shared_ptr<const PictureImage> picture;
    double pictureZoom = 0;  // screen pixels per image pixel; 0 fits the view
    int picturePalette = VAL_PALETTE_BITMAP;
    double scaleLow = 0, scaleHigh = 0;  // data values of byte 0 and 255 (colour bar); equal: none
    // Graph
    std::vector<Plot> plots;
    std::string xLabel, yLabel;
    // TextBox: the parts written as warnings, in order
    std::vector<TextMark> warnings;
    // Timer
    bool timerEnabled = false;
    double interval = 1.0;
    bool hasCallback = false;
    uint64_t version = 0;  // model version of its last change
};

struct PanelState {
    int handle = 0;
    int parent = 0;     // 0 top level; a tab page's parent is the panel of its tab control
    int tabControl = 0;  // for tab pages: the tab control and page index on the parent
    int pageIndex = -1;
    std::string name;
    std::string title;
    int top = 0, left = 0, width = 0, height = 0;
    bool visible = false;
    bool dimmed = false;
    bool hasCloseCallback = false;
    // A resizable panel gives what it grows or shrinks by to its anchored
    // controls; it never gets smaller than minWidth x minHeight.
    bool resizable = false;
    int minWidth = 0, minHeight = 0;
    bool maximized = false;  // opens filling the screen
    int menuBar = 0;
    std::vector<ControlState> controls;  // only those changed since the asked version
    uint64_t version = 0;  // model version of the panel's own last change
};

struct MenuItemState {
    int id = 0;
    std::string name;
    std::string label;
    bool dimmed = false;
    bool checked = false;
    bool separator = false;
    std::string shortcut;  // "Ctrl+O"
};

struct MenuState {
    int id = 0;
    std::string name;
    std::string label;
    std::vector<MenuItemState> items;
};

struct MenuBarState {
    int handle = 0;
    int panel = 0;
    std::vector<MenuState> menus;
    uint64_t version = 0;
};

struct ModelChanges {
    uint64_t version = 0;             // pass this to the next TakeModelChanges
    std::vector<int> livePanels;      // every panel handle that exists now
    std::vector<PanelState> panels;   // panels changed since the asked version
    std::vector<MenuBarState> menuBars;  // every menu bar (few and small)
};

// Everything changed after `sinceVersion` (0: everything). Re-arms
// ModelChanged(). Any thread.
ModelChanges TakeModelChanges(uint64_t sinceVersion);

struct FileRequest {
    std::string defaultDirectory;
    std::string defaultPattern;
    std::string patternList;
    std::string title;
    bool save = false;
    bool folder = false;  // a folder is asked for, not a file
};

class FrontEnd {
public:
    virtual ~FrontEnd() = default;
    // The model changed. Any thread; must not block or call back into the core.
    virtual void ModelChanged() = 0;
    // Modal popups, called on the dispatch thread; they return when answered.
    virtual void ShowMessage(const std::string& title, const std::string& text) = 0;
    // A message shown while long work runs: the dispatch thread does not
    // wait for the observer to dismiss it (the work below it on the stack
    // would stand still meanwhile). By default as ShowMessage.
    virtual void ShowMessageWithoutWaiting(const std::string& title, const std::string& text) {
        ShowMessage(title, text);
    }
    virtual bool AskConfirm(const std::string& title, const std::string& text) = 0;
    // The chosen path, or nothing when cancelled.
    virtual std::optional<std::string> AskFile(const FileRequest& request) = 0;
    virtual void ScreenSize(int* height, int* width) = 0;
    // Saves a picture of the panel as PNG. Returns false with a reason when
    // the front-end cannot (the headless one draws no pixels).
    virtual bool Screenshot(int panel, const std::string& pngPath, std::string* error) = 0;
};

// Attaches a front-end (nullptr detaches). The core does not own it.
void SetFrontEnd(FrontEnd* frontEnd);
FrontEnd* GetFrontEnd();

}  // namespace ui
