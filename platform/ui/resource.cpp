#include "platform/ui/resource.h"

#include <fstream>
#include <set>
#include <sstream>
#include <stdexcept>

#include <nlohmann/json.hpp>

namespace ui::detail {
namespace {

using nlohmann::json;

// Thrown while walking the document; turned into the error text.
struct ResourceError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

[[noreturn]] void Fail(const std::string& where, const std::string& what) {
    throw ResourceError(where + ": " + what);
}

const json& Require(const json& object, const char* key, const std::string& where) {
    auto it = object.find(key);
    if (it == object.end()) Fail(where, std::string("missing \"") + key + "\"");
    return *it;
}

int GetInt(const json& object, const char* key, const std::string& where,
           std::optional<int> fallback = std::nullopt) {
    auto it = object.find(key);
    if (it == object.end()) {
        if (!fallback) Fail(where, std::string("missing \"") + key + "\"");
        return *fallback;
    }
    if (!it->is_number_integer()) Fail(where, std::string("\"") + key + "\" must be an integer");
    return it->get<int>();
}

double GetDouble(const json& object, const char* key, const std::string& where, double fallback) {
    auto it = object.find(key);
    if (it == object.end()) return fallback;
    if (!it->is_number()) Fail(where, std::string("\"") + key + "\" must be a number");
    return it->get<double>();
}

bool GetBool(const json& object, const char* key, const std::string& where, bool fallback) {
    auto it = object.find(key);
    if (it == object.end()) return fallback;
    if (!it->is_boolean()) Fail(where, std::string("\"") + key + "\" must be true or false");
    return it->get<bool>();
}

std::string GetString(const json& object, const char* key, const std::string& where,
                      std::optional<std::string> fallback = std::string()) {
    auto it = object.find(key);
    if (it == object.end()) {
        if (!fallback) Fail(where, std::string("missing \"") + key + "\"");
        return *fallback;
    }
    if (!it->is_string()) Fail(where, std::string("\"") + key + "\" must be a text");
    return it->get<std::string>();
}

const json& GetArray(const json& object, const char* key, const std::string& where) {
    static const json empty = json::array();
    auto it = object.find(key);
    if (it == object.end()) return empty;
    if (!it->is_array()) Fail(where, std::string("\"") + key + "\" must be an array");
    return *it;
}

int ParseColor(const std::string& text, const std::string& where) {
    if (text.size() != 7 || text[0] != '#') Fail(where, "colour must look like \"#rrggbb\"");
    int value = 0;
    for (size_t i = 1; i < text.size(); ++i) {
        char c = text[i];
        int digit = (c >= '0' && c <= '9')   ? c - '0'
                    : (c >= 'a' && c <= 'f') ? c - 'a' + 10
                    : (c >= 'A' && c <= 'F') ? c - 'A' + 10
                                             : -1;
        if (digit < 0) Fail(where, "colour must look like \"#rrggbb\"");
        value = value * 16 + digit;
    }
    return value;
}

const std::map<std::string, CtrlType>& ControlTypes() {
    static const std::map<std::string, CtrlType> types = {
        {"command", CtrlType::Command},   {"toggle", CtrlType::Toggle},
        {"lamp", CtrlType::Lamp},         {"numeric", CtrlType::Numeric},
        {"slider", CtrlType::Slider},     {"string", CtrlType::String},
        {"textbox", CtrlType::TextBox},   {"textmsg", CtrlType::TextMessage},
        {"ring", CtrlType::Ring},         {"listbox", CtrlType::ListBox},
        {"radio", CtrlType::RadioButton}, {"radiogroup", CtrlType::RadioGroup},
        {"tree", CtrlType::Tree},         {"table", CtrlType::Table},
        {"tab", CtrlType::Tab},           {"picture", CtrlType::Picture},
        {"graph", CtrlType::Graph},       {"timer", CtrlType::Timer},
        {"decoration", CtrlType::Decoration}, {"progressbar", CtrlType::ProgressBar},
    };
    return types;
}

Value ParseItemValue(const json& value, ValueType type, const std::string& where) {
    switch (type) {
        case ValueType::Int:
            if (!value.is_number_integer()) Fail(where, "item values must all be integers");
            return value.get<int>();
        case ValueType::Double:
            if (!value.is_number()) Fail(where, "item values must all be numbers");
            return value.get<double>();
        case ValueType::Text:
            if (!value.is_string()) Fail(where, "item values must all be texts");
            return value.get<std::string>();
    }
    return 0;
}

void ParseItems(const json& object, ControlTemplate& control, const std::string& where) {
    ControlState& s = control.state;
    const json& items = GetArray(object, "items", where);
    s.valueType = ValueType::Int;
    if (!items.empty()) {
        const json& first = Require(items[0], "value", where + " item 0");
        s.valueType = first.is_string()              ? ValueType::Text
                      : first.is_number_integer()    ? ValueType::Int
                      : first.is_number()            ? ValueType::Double
                                                     : (Fail(where, "item value must be a number or a text"), ValueType::Int);
    }
    for (size_t i = 0; i < items.size(); ++i) {
        std::string itemWhere = where + " item " + std::to_string(i);
        if (!items[i].is_object()) Fail(itemWhere, "must be an object");
        ListItem item;
        item.label = GetString(items[i], "label", itemWhere, std::nullopt);
        item.value = ParseItemValue(Require(items[i], "value", itemWhere), s.valueType, itemWhere);
        s.items.push_back(std::move(item));
    }
    control.defaultIndex = GetInt(object, "index", where, 0);
    if (s.items.empty()) {
        control.defaultIndex = -1;
    } else if (control.defaultIndex < 0 || control.defaultIndex >= static_cast<int>(s.items.size())) {
        Fail(where, "\"index\" is outside the items");
    }
    s.selected = control.defaultIndex;
}

PanelTemplate ParsePanel(const json& object, const std::string& where, bool isPage);

// "left top right bottom", any of them; the default is "left top".
int ParseAnchors(const std::string& text, const std::string& where) {
    int anchors = 0;
    std::istringstream words(text);
    std::string word;
    while (words >> word) {
        if (word == "left")
            anchors |= kAnchorLeft;
        else if (word == "top")
            anchors |= kAnchorTop;
        else if (word == "right")
            anchors |= kAnchorRight;
        else if (word == "bottom")
            anchors |= kAnchorBottom;
        else
            Fail(where, "\"anchor\" takes left, top, right and bottom, not \"" + word + "\"");
    }
    // A control anchored to neither side of a direction keeps its place.
    if (!(anchors & (kAnchorLeft | kAnchorRight))) anchors |= kAnchorLeft;
    if (!(anchors & (kAnchorTop | kAnchorBottom))) anchors |= kAnchorTop;
    return anchors;
}

// Cells all tables of one resource file may have together, and what is left
// of them in the file being parsed.
constexpr size_t kMaxTableCells = 1000000;
thread_local size_t tableCellsLeft = kMaxTableCells;

ControlTemplate ParseControl(const json& object, const std::string& where) {
    if (!object.is_object()) Fail(where, "must be an object");
    ControlTemplate control;
    ControlState& s = control.state;
    s.id = GetInt(object, "id", where);
    if (s.id <= 0) Fail(where, "\"id\" must be positive");
    s.name = GetString(object, "name", where, std::nullopt);
    std::string here = where + " (" + s.name + ")";
    std::string typeName = GetString(object, "type", here, std::nullopt);
    auto type = ControlTypes().find(typeName);
    if (type == ControlTypes().end()) Fail(here, "unknown control type \"" + typeName + "\"");
    s.type = type->second;
    s.label = GetString(object, "label", here);
    s.left = GetInt(object, "left", here, 0);
    s.top = GetInt(object, "top", here, 0);
    s.width = GetInt(object, "width", here, s.type == CtrlType::Timer ? 0 : std::optional<int>());
    s.height = GetInt(object, "height", here, s.type == CtrlType::Timer ? 0 : std::optional<int>());
    if (s.width < 0 || s.height < 0) Fail(here, "size must not be negative");
    s.dimmed = GetBool(object, "dimmed", here, false);
    s.visible = GetBool(object, "visible", here, s.type != CtrlType::Timer);
    control.callbackName = GetString(object, "callback", here);
    s.indicator = GetBool(object, "indicator", here, false);
    s.anchors = ParseAnchors(GetString(object, "anchor", here, std::string("left top")), here);
    s.tooltip = GetString(object, "tooltip", here);
    s.shortcut = GetString(object, "shortcut", here);

    switch (s.type) {
        case CtrlType::Toggle:
        case CtrlType::Lamp:
        case CtrlType::RadioButton:
            s.valueType = ValueType::Int;
            s.value = GetInt(object, "value", here, 0) != 0 ? 1 : 0;
            s.onText = GetString(object, "on_text", here);
            s.offText = GetString(object, "off_text", here);
            if (object.contains("on_color"))
                s.onColor = ParseColor(GetString(object, "on_color", here), here);
            break;
        case CtrlType::ProgressBar:
            s.indicator = true;
            s.valueType = ValueType::Double;
            s.value = GetDouble(object, "value", here, 0.0);
            s.minValue = GetDouble(object, "min", here, 0.0);
            s.maxValue = GetDouble(object, "max", here, 100.0);
            if (s.minValue >= s.maxValue) Fail(here, "\"min\" must be below \"max\"");
            break;
        case CtrlType::Numeric:
        case CtrlType::Slider: {
            std::string dataType = GetString(object, "data_type", here, std::string("double"));
            if (dataType == "int") {
                s.valueType = ValueType::Int;
                s.value = GetInt(object, "value", here, 0);
            } else if (dataType == "double") {
                s.valueType = ValueType::Double;
                s.value = GetDouble(object, "value", here, 0.0);
            } else {
                Fail(here, "\"data_type\" must be \"int\" or \"double\"");
            }
            s.minValue = GetDouble(object, "min", here, 0.0);
            s.maxValue = GetDouble(object, "max", here, 0.0);
            if (s.minValue > s.maxValue) Fail(here, "\"min\" is above \"max\"");
            s.precision = GetInt(object, "precision", here, 2);
            break;
        }
        case CtrlType::String:
        case CtrlType::TextBox:
        case CtrlType::TextMessage:
            s.valueType = ValueType::Text;
            s.value = GetString(object, "value", here);
            break;
        case CtrlType::Ring:
        case CtrlType::ListBox:
        case CtrlType::RadioGroup:
        case CtrlType::Tree:
            ParseItems(object, control, here);
            break;
        case CtrlType::Table: {
            const json& columns = GetArray(object, "columns", here);
            for (size_t i = 0; i < columns.size(); ++i) {
                std::string columnWhere = here + " column " + std::to_string(i + 1);
                if (!columns[i].is_object()) Fail(columnWhere, "must be an object");
                TableColumn column;
                column.label = GetString(columns[i], "label", columnWhere);
                std::string kind = GetString(columns[i], "type", columnWhere, std::string("double"));
                if (kind == "int") column.type = ValueType::Int;
                else if (kind == "double") column.type = ValueType::Double;
                else if (kind == "text") column.type = ValueType::Text;
                else Fail(columnWhere, "\"type\" must be \"int\", \"double\" or \"text\"");
                column.width = GetInt(columns[i], "width", columnWhere, 90);
                column.precision = GetInt(columns[i], "precision", columnWhere, -1);
                if (column.precision < -1 || column.precision > 15)
                    Fail(columnWhere, "\"precision\" must be 0 to 15");
                s.columns.push_back(column);
            }
            int rows = GetInt(object, "rows", here, 0);
            if (rows < 0 || rows > 100000) Fail(here, "\"rows\" out of range");
            // Rows times columns is what takes memory: a small file must not
            // claim gigabytes of cells, in one table or in many.
            const size_t cells = size_t(rows) * s.columns.size();
            if (cells > tableCellsLeft)
                Fail(here, "the tables of the file hold more than " +
                               std::to_string(kMaxTableCells) + " cells");
            tableCellsLeft -= cells;
            for (int r = 0; r < rows; ++r) {
                std::vector<Value> row;
                for (const TableColumn& column : s.columns)
                    row.push_back(column.type == ValueType::Text ? Value(std::string())
                                  : column.type == ValueType::Int ? Value(0)
                                                                  : Value(0.0));
                s.cells.push_back(std::move(row));
            }
            break;
        }
        case CtrlType::Tab: {
            const json& pages = GetArray(object, "pages", here);
            if (pages.empty()) Fail(here, "a tab control needs \"pages\"");
            for (size_t i = 0; i < pages.size(); ++i) {
                PanelTemplate page =
                    ParsePanel(pages[i], here + " page " + std::to_string(i), /*isPage=*/true);
                s.pageLabels.push_back(page.title);
                s.pageDimmed.push_back(false);
                control.pages.push_back(std::move(page));
            }
            s.valueType = ValueType::Int;
            s.value = 0;
            break;
        }
        case CtrlType::Graph:
            s.xLabel = GetString(object, "x_label", here);
            s.yLabel = GetString(object, "y_label", here);
            break;
        case CtrlType::Timer:
            s.interval = GetDouble(object, "interval", here, 1.0);
            if (!(s.interval > 0)) Fail(here, "\"interval\" must be positive");
            s.timerEnabled = GetBool(object, "enabled", here, true);
            break;
        case CtrlType::Command:
        case CtrlType::Picture:
        case CtrlType::Decoration:
            break;
    }
    control.defaultValue = s.value;
    return control;
}

PanelTemplate ParsePanel(const json& object, const std::string& where, bool isPage) {
    if (!object.is_object()) Fail(where, "must be an object");
    PanelTemplate panel;
    panel.name = GetString(object, "name", where, std::nullopt);
    std::string here = where + " (" + panel.name + ")";
    if (isPage) {
        panel.title = GetString(object, "label", here, panel.name);
    } else {
        panel.resource = GetInt(object, "resource", here);
        panel.title = GetString(object, "title", here);
        panel.width = GetInt(object, "width", here);
        panel.height = GetInt(object, "height", here);
        if (panel.width <= 0 || panel.height <= 0) Fail(here, "size must be positive");
        if (object.contains("top")) panel.top = GetInt(object, "top", here);
        if (object.contains("left")) panel.left = GetInt(object, "left", here);
        panel.callbackName = GetString(object, "callback", here);
        panel.resizable = GetBool(object, "resizable", here, false);
        panel.minWidth = GetInt(object, "min_width", here, panel.width);
        panel.minHeight = GetInt(object, "min_height", here, panel.height);
        if (panel.minWidth <= 0 || panel.minWidth > panel.width || panel.minHeight <= 0 ||
            panel.minHeight > panel.height)
            Fail(here, "the smallest size must be positive and no larger than the panel");
        panel.maximized = GetBool(object, "maximized", here, false);
    }
    std::set<int> ids;
    std::set<std::string> names;
    const json& controls = GetArray(object, "controls", here);
    for (size_t i = 0; i < controls.size(); ++i) {
        ControlTemplate control = ParseControl(controls[i], here + " control " + std::to_string(i));
        if (!ids.insert(control.state.id).second)
            Fail(here, "control id " + std::to_string(control.state.id) + " is used twice");
        if (!names.insert(control.state.name).second)
            Fail(here, "control name \"" + control.state.name + "\" is used twice");
        panel.controls.push_back(std::move(control));
    }
    return panel;
}

MenuBarTemplate ParseMenuBar(const json& object, const std::string& where) {
    if (!object.is_object()) Fail(where, "must be an object");
    MenuBarTemplate bar;
    bar.resource = GetInt(object, "resource", where);
    bar.name = GetString(object, "name", where, std::nullopt);
    std::string here = where + " (" + bar.name + ")";
    std::set<int> ids;
    std::set<std::string> names;
    auto claim = [&](int id, const std::string& name, const std::string& at) {
        if (id <= 0) Fail(at, "\"id\" must be positive");
        if (!ids.insert(id).second) Fail(at, "menu id " + std::to_string(id) + " is used twice");
        if (!names.insert(name).second) Fail(at, "menu name \"" + name + "\" is used twice");
    };
    const json& menus = GetArray(object, "menus", here);
    for (size_t m = 0; m < menus.size(); ++m) {
        std::string menuWhere = here + " menu " + std::to_string(m);
        if (!menus[m].is_object()) Fail(menuWhere, "must be an object");
        MenuState menu;
        menu.id = GetInt(menus[m], "id", menuWhere);
        menu.name = GetString(menus[m], "name", menuWhere, std::nullopt);
        menu.label = GetString(menus[m], "label", menuWhere);
        claim(menu.id, menu.name, menuWhere);
        const json& items = GetArray(menus[m], "items", menuWhere);
        for (size_t i = 0; i < items.size(); ++i) {
            std::string itemWhere = menuWhere + " item " + std::to_string(i);
            if (!items[i].is_object()) Fail(itemWhere, "must be an object");
            MenuItemState item;
            if (GetBool(items[i], "separator", itemWhere, false)) {
                item.separator = true;
                menu.items.push_back(item);
                continue;
            }
            item.id = GetInt(items[i], "id", itemWhere);
            item.name = GetString(items[i], "name", itemWhere, std::nullopt);
            item.label = GetString(items[i], "label", itemWhere);
            item.dimmed = GetBool(items[i], "dimmed", itemWhere, false);
            item.checked = GetBool(items[i], "checked", itemWhere, false);
            item.shortcut = GetString(items[i], "shortcut", itemWhere);
            claim(item.id, item.name, itemWhere);
            std::string callback = GetString(items[i], "callback", itemWhere);
            if (!callback.empty()) bar.itemCallbacks[item.id] = callback;
            menu.items.push_back(std::move(item));
        }
        bar.menus.push_back(std::move(menu));
    }
    return bar;
}

}  // namespace

bool ParseResourceText(const std::string& text, const std::string& fileName, ResourceFile* out,
                       std::string* error) {
    json document;
    try {
        document = json::parse(text);
    } catch (const json::parse_error& e) {
        *error = fileName + ": not a valid resource file: " + e.what();
        return false;
    }
    tableCellsLeft = kMaxTableCells;
    try {
        if (!document.is_object()) Fail(fileName, "the resource file must hold a JSON object");
        ResourceFile file;
        file.statusBox = GetString(document, "status_box", fileName);
        std::set<int> panelNumbers;
        std::set<std::string> panelNames;
        const json& panels = GetArray(document, "panels", fileName);
        for (size_t i = 0; i < panels.size(); ++i) {
            PanelTemplate panel = ParsePanel(panels[i], fileName + ": panel " + std::to_string(i),
                                             /*isPage=*/false);
            if (!panelNumbers.insert(panel.resource).second)
                Fail(fileName, "panel resource " + std::to_string(panel.resource) + " is used twice");
            // Panel and tab-page names share one namespace: scripts address them alike.
            std::vector<const PanelTemplate*> named = {&panel};
            for (const ControlTemplate& control : panel.controls)
                for (const PanelTemplate& page : control.pages) named.push_back(&page);
            for (const PanelTemplate* p : named)
                if (!panelNames.insert(p->name).second)
                    Fail(fileName, "panel name \"" + p->name + "\" is used twice");
            file.panels.push_back(std::move(panel));
        }
        std::set<int> barNumbers;
        const json& bars = GetArray(document, "menubars", fileName);
        for (size_t i = 0; i < bars.size(); ++i) {
            MenuBarTemplate bar = ParseMenuBar(bars[i], fileName + ": menu bar " + std::to_string(i));
            if (!barNumbers.insert(bar.resource).second)
                Fail(fileName, "menu bar resource " + std::to_string(bar.resource) + " is used twice");
            file.menuBars.push_back(std::move(bar));
        }
        *out = std::move(file);
        return true;
    } catch (const ResourceError& e) {
        *error = e.what();
    } catch (const json::exception& e) {
        *error = fileName + ": " + e.what();
    }
    return false;
}

bool ParseResourceFile(const std::string& path, ResourceFile* out, std::string* error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        *error = path + ": resource file not found";
        return false;
    }
    std::ostringstream text;
    text << in.rdbuf();
    return ParseResourceText(text.str(), path, out, error);
}

}  // namespace ui::detail
