// The control model: values, attributes, list controls, tables, tab
// controls, pictures and graphs, each changed under the model lock.
#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/ui/runtime_internal.h"

namespace ui {
namespace core {

Panel* FindPanelLocked(int handle) {
    auto it = R().panels.find(handle);
    return it == R().panels.end() ? nullptr : &it->second;
}

Control* FindControlLocked(int panel, int control, int* status) {
    Panel* p = FindPanelLocked(panel);
    if (!p) {
        *status = UIE_BAD_PANEL_HANDLE;
        return nullptr;
    }
    auto it = p->controls.find(control);
    if (it == p->controls.end()) {
        *status = UIE_BAD_CONTROL_ID;
        return nullptr;
    }
    return &it->second;
}

void TouchControl(Control& c) { c.s.version = ++R().version; }
void TouchPanel(Panel& p) { p.s.version = ++R().version; }

void NotifyFrontEnd() {
    // Held while the front-end is told, so that SetFrontEnd(nullptr) returns
    // only when no thread is still inside ModelChanged().
    std::lock_guard lock(R().frontEndMutex);
    FrontEnd* fe = R().frontEnd.load();
    if (fe && !R().refreshPending.exchange(true)) fe->ModelChanged();
}

bool IsNumeric(const ControlState& s) {
    return s.type == CtrlType::Numeric || s.type == CtrlType::Slider ||
           s.type == CtrlType::ProgressBar;
}
bool IsText(const ControlState& s) {
    return s.type == CtrlType::String || s.type == CtrlType::TextBox ||
           s.type == CtrlType::TextMessage;
}
bool IsBinary(const ControlState& s) {
    return s.type == CtrlType::Toggle || s.type == CtrlType::Lamp ||
           s.type == CtrlType::RadioButton;
}
bool IsList(const ControlState& s) {
    return s.type == CtrlType::Ring || s.type == CtrlType::ListBox ||
           s.type == CtrlType::Tree || s.type == CtrlType::RadioGroup;
}

double AsDouble(const Value& v) {
    if (auto i = std::get_if<int>(&v)) return *i;
    if (auto d = std::get_if<double>(&v)) return *d;
    return 0.0;
}

int ToInt(double d) {
    if (!std::isfinite(d)) return 0;
    d = std::round(d);
    if (d > 2147483647.0) return 2147483647;
    if (d < -2147483648.0) return -2147483647 - 1;
    return static_cast<int>(d);
}

bool HasRange(const ControlState& s) { return s.minValue < s.maxValue; }

// Stores a number into a numeric control, coerced into its range.
void StoreNumber(ControlState& s, double value) {
    if (HasRange(s)) value = std::clamp(value, s.minValue, s.maxValue);
    if (s.valueType == ValueType::Int) s.value = ToInt(value);
    else s.value = value;
}

// Keeps the last kTextBoxLimit bytes of a text box, from a line start; its
// warning marks move with the text.
void TrimTextBox(ControlState& s) {
    std::string& text = std::get<std::string>(s.value);
    if (text.size() <= kTextBoxLimit) return;
    size_t cut = text.size() - kTextBoxLimit;
    size_t newline = text.find('\n', cut);
    cut = newline == std::string::npos ? cut : newline + 1;
    text.erase(0, cut);
    std::vector<TextMark> kept;
    for (TextMark m : s.warnings) {
        if (m.end <= cut) continue;
        kept.push_back({m.begin > cut ? m.begin - cut : 0, m.end - cut});
    }
    s.warnings = std::move(kept);
}

// Appends to a text box; `warning` marks the new text as a warning.
void AppendText(ControlState& s, const std::string& text, bool warning) {
    std::string& box = std::get<std::string>(s.value);
    const size_t begin = box.size();
    box += text;
    if (warning && !text.empty()) {
        if (!s.warnings.empty() && s.warnings.back().end == begin)
            s.warnings.back().end = box.size();
        else
            s.warnings.push_back({begin, box.size()});
    }
    TrimTextBox(s);
}

bool SameKind(const Value& a, ValueType type) {
    switch (type) {
        case ValueType::Int: return std::holds_alternative<int>(a) || std::holds_alternative<double>(a);
        case ValueType::Double: return std::holds_alternative<int>(a) || std::holds_alternative<double>(a);
        case ValueType::Text: return std::holds_alternative<std::string>(a);
    }
    return false;
}

Value Coerce(const Value& v, ValueType type) {
    switch (type) {
        case ValueType::Int: return ToInt(AsDouble(v));
        case ValueType::Double: return AsDouble(v);
        case ValueType::Text: return v;
    }
    return v;
}

bool ValuesEqual(const Value& a, const Value& b) {
    if (std::holds_alternative<std::string>(a) || std::holds_alternative<std::string>(b))
        return a == b;
    return AsDouble(a) == AsDouble(b);
}

int SetValue(Control& c, const Value& v) {
    ControlState& s = c.s;
    if (IsNumeric(s)) {
        if (!SameKind(v, ValueType::Double)) return UIE_TYPE_MISMATCH;
        StoreNumber(s, AsDouble(v));
        return 0;
    }
    if (IsBinary(s)) {
        if (!SameKind(v, ValueType::Int)) return UIE_TYPE_MISMATCH;
        s.value = AsDouble(v) != 0 ? 1 : 0;
        return 0;
    }
    if (IsText(s)) {
        auto text = std::get_if<std::string>(&v);
        if (!text) return UIE_TYPE_MISMATCH;
        if (s.type == CtrlType::TextBox) {
            AppendText(s, *text, false);
        } else {
            s.value = *text;
        }
        return 0;
    }
    if (IsList(s)) {
        if (!SameKind(v, s.valueType)) return UIE_TYPE_MISMATCH;
        for (size_t i = 0; i < s.items.size(); ++i) {
            if (ValuesEqual(s.items[i].value, v)) {
                s.selected = static_cast<int>(i);
                return 0;
            }
        }
        return UIE_BAD_ARGUMENT;  // no item has that value
    }
    if (s.type == CtrlType::Tab) {
        if (!SameKind(v, ValueType::Int)) return UIE_TYPE_MISMATCH;
        int page = ToInt(AsDouble(v));
        if (page < 0 || page >= static_cast<int>(s.pages.size())) return UIE_INDEX_OUT_OF_RANGE;
        s.value = page;
        return 0;
    }
    return UIE_TYPE_MISMATCH;
}

int GetValue(const Control& c, Value* out) {
    const ControlState& s = c.s;
    if (IsList(s)) {
        if (s.selected < 0 || s.selected >= static_cast<int>(s.items.size()))
            return UIE_INDEX_OUT_OF_RANGE;
        *out = s.items[s.selected].value;
        return 0;
    }
    if (IsNumeric(s) || IsBinary(s) || IsText(s) || s.type == CtrlType::Tab) {
        *out = s.value;
        return 0;
    }
    return UIE_TYPE_MISMATCH;
}

}  // namespace core

using namespace core;

namespace detail {

bool ControlIsIndicator(int panel, int control) {
    return ReadControl(panel, control, [](Control& c) { return c.s.indicator ? 1 : 0; }) == 1;
}

}  // namespace detail

// ---- control values ------------------------------------------------------------------------

int SetCtrlVal(int panel, int control, int value) {
    return ChangeControl(panel, control, [&](Control& c) { return SetValue(c, value); });
}
int SetCtrlVal(int panel, int control, double value) {
    return ChangeControl(panel, control, [&](Control& c) { return SetValue(c, value); });
}
int SetCtrlVal(int panel, int control, const std::string& value) {
    return ChangeControl(panel, control, [&](Control& c) { return SetValue(c, value); });
}
int SetCtrlVal(int panel, int control, const char* value) {
    if (!value) return UIE_BAD_ARGUMENT;
    return SetCtrlVal(panel, control, std::string(value));
}

int GetCtrlVal(int panel, int control, int* value) { return GetNumber(panel, control, value); }
int GetCtrlVal(int panel, int control, float* value) { return GetNumber(panel, control, value); }
int GetCtrlVal(int panel, int control, double* value) { return GetNumber(panel, control, value); }

int GetCtrlVal(int panel, int control, std::string* value) {
    if (!value) return UIE_BAD_ARGUMENT;
    return ReadControl(panel, control, [&](Control& c) {
        Value v;
        int status = GetValue(c, &v);
        if (status < 0) return status;
        auto text = std::get_if<std::string>(&v);
        if (!text) return UIE_TYPE_MISMATCH;
        *value = *text;
        return 0;
    });
}

int GetCtrlVal(int panel, int control, char* buffer, size_t size) {
    if (!buffer || size == 0) return UIE_BAD_ARGUMENT;
    std::string text;
    int status = GetCtrlVal(panel, control, &text);
    if (status < 0) return status;
    size_t n = std::min(text.size(), size - 1);
    std::memcpy(buffer, text.data(), n);
    buffer[n] = '\0';
    return 0;
}

int DefaultCtrl(int panel, int control) {
    return ChangeControl(panel, control, [](Control& c) {
        if (IsList(c.s)) {
            c.s.selected = c.s.items.empty() ? -1
                                             : std::clamp(c.defaultIndex, 0,
                                                          static_cast<int>(c.s.items.size()) - 1);
        } else if (c.s.type == CtrlType::TextBox) {
            c.s.value = std::string();
            c.s.warnings.clear();
        } else {
            c.s.value = c.defaultValue;
        }
        return 0;
    });
}

int ResetTextBox(int panel, int control, const std::string& text) {
    return ChangeControl(panel, control, [&](Control& c) {
        if (c.s.type != CtrlType::TextBox) return UIE_TYPE_MISMATCH;
        c.s.value = text;
        c.s.warnings.clear();
        TrimTextBox(c.s);
        return 0;
    });
}

int AppendWarningText(int panel, int control, const std::string& text) {
    return ChangeControl(panel, control, [&](Control& c) {
        if (c.s.type != CtrlType::TextBox) return UIE_TYPE_MISMATCH;
        AppendText(c.s, text, true);
        return 0;
    });
}

int GetTextBoxWarnings(int panel, int control, std::vector<std::string>* warnings) {
    if (!warnings) return UIE_BAD_ARGUMENT;
    return ReadControl(panel, control, [&](Control& c) {
        if (c.s.type != CtrlType::TextBox) return UIE_TYPE_MISMATCH;
        const std::string& text = std::get<std::string>(c.s.value);
        warnings->clear();
        for (const TextMark& m : c.s.warnings)
            warnings->push_back(text.substr(m.begin, m.end - m.begin));
        return 0;
    });
}

// ---- control attributes --------------------------------------------------------------------

int SetCtrlAttribute(int panel, int control, int attribute, double value) {
    return ChangeControl(panel, control, [&](Control& c) {
        ControlState& s = c.s;
        switch (attribute) {
            case ATTR_DIMMED:
                if (c.holds > 0) c.ownDimmed = value != 0;
                else s.dimmed = value != 0;
                return 0;
            case ATTR_VISIBLE: s.visible = value != 0; return 0;
            case ATTR_WIDTH:
                if (value < 0) return UIE_BAD_ARGUMENT;
                s.width = ToInt(value);
                return 0;
            case ATTR_HEIGHT:
                if (value < 0) return UIE_BAD_ARGUMENT;
                s.height = ToInt(value);
                return 0;
            case ATTR_LEFT: s.left = ToInt(value); return 0;
            case ATTR_TOP: s.top = ToInt(value); return 0;
            case ATTR_MIN_VALUE:
            case ATTR_MAX_VALUE:
                if (!IsNumeric(s)) return UIE_BAD_ATTRIBUTE;
                if (attribute == ATTR_MIN_VALUE) s.minValue = value;
                else s.maxValue = value;
                // A range set in two steps may pass through min > max; the
                // value is coerced only into a valid range.
                if (HasRange(s)) StoreNumber(s, AsDouble(s.value));
                return 0;
            case ATTR_ENABLED:
                if (s.type != CtrlType::Timer) return UIE_BAD_ATTRIBUTE;
                s.timerEnabled = value != 0;
                c.nextTick = {};
                return 0;
            case ATTR_INTERVAL:
                if (s.type != CtrlType::Timer) return UIE_BAD_ATTRIBUTE;
                if (!(value > 0)) return UIE_BAD_ARGUMENT;
                s.interval = value;
                c.nextTick = {};
                return 0;
            case ATTR_PICTURE_ZOOM:
                if (s.type != CtrlType::Picture) return UIE_BAD_ATTRIBUTE;
                if (!(value >= 0) || value > 64) return UIE_BAD_ARGUMENT;
                s.pictureZoom = value;
                return 0;
            case ATTR_PICTURE_PALETTE:
                if (s.type != CtrlType::Picture) return UIE_BAD_ATTRIBUTE;
                if (value != VAL_PALETTE_BITMAP && value != VAL_PALETTE_INVERTED &&
                    value != VAL_PALETTE_PERCEPTUAL)
                    return UIE_BAD_ARGUMENT;
                s.picturePalette = ToInt(value);
                return 0;
            case ATTR_SCALE_LOW:
            case ATTR_SCALE_HIGH:
                if (s.type != CtrlType::Picture) return UIE_BAD_ATTRIBUTE;
                if (!std::isfinite(value)) return UIE_BAD_ARGUMENT;
                (attribute == ATTR_SCALE_LOW ? s.scaleLow : s.scaleHigh) = value;
                return 0;
            default: return UIE_BAD_ATTRIBUTE;
        }
    });
}

int SetCtrlAttribute(int panel, int control, int attribute, int value) {
    return SetCtrlAttribute(panel, control, attribute, static_cast<double>(value));
}

int SetCtrlAttribute(int panel, int control, int attribute, const std::string& value) {
    return ChangeControl(panel, control, [&](Control& c) {
        switch (attribute) {
            case ATTR_LABEL_TEXT:
                c.s.label = value;
                return 0;
            case ATTR_XNAME:
            case ATTR_YNAME:
                if (c.s.type != CtrlType::Graph) return UIE_BAD_ATTRIBUTE;
                (attribute == ATTR_XNAME ? c.s.xLabel : c.s.yLabel) = value;
                return 0;
            default:
                return UIE_BAD_ATTRIBUTE;
        }
    });
}

int GetCtrlAttribute(int panel, int control, int attribute, double* value) {
    if (!value) return UIE_BAD_ARGUMENT;
    return ReadControl(panel, control, [&](Control& c) {
        const ControlState& s = c.s;
        switch (attribute) {
            case ATTR_DIMMED: *value = s.dimmed; return 0;
            case ATTR_VISIBLE: *value = s.visible; return 0;
            case ATTR_WIDTH: *value = s.width; return 0;
            case ATTR_HEIGHT: *value = s.height; return 0;
            case ATTR_LEFT: *value = s.left; return 0;
            case ATTR_TOP: *value = s.top; return 0;
            case ATTR_MIN_VALUE: *value = s.minValue; return 0;
            case ATTR_MAX_VALUE: *value = s.maxValue; return 0;
            case ATTR_ENABLED: *value = s.timerEnabled; return 0;
            case ATTR_INTERVAL: *value = s.interval; return 0;
            case ATTR_CTRL_TYPE: *value = static_cast<int>(s.type); return 0;
            case ATTR_NUM_ROWS: *value = static_cast<double>(s.cells.size()); return 0;
            case ATTR_NUM_COLUMNS: *value = static_cast<double>(s.columns.size()); return 0;
            case ATTR_PICTURE_ZOOM:
                *value = s.pictureZoom;
                return 0;
            case ATTR_PICTURE_PALETTE:
                *value = s.picturePalette;
                return 0;
            case ATTR_SCALE_LOW:
                *value = s.scaleLow;
                return 0;
            case ATTR_SCALE_HIGH:
                *value = s.scaleHigh;
                return 0;
            default: return UIE_BAD_ATTRIBUTE;
        }
    });
}

int GetCtrlAttribute(int panel, int control, int attribute, int* value) {
    if (!value) return UIE_BAD_ARGUMENT;
    double d = 0;
    int status = GetCtrlAttribute(panel, control, attribute, &d);
    if (status >= 0) *value = ToInt(d);
    return status;
}

int GetCtrlAttribute(int panel, int control, int attribute, std::string* value) {
    if (!value) return UIE_BAD_ARGUMENT;
    return ReadControl(panel, control, [&](Control& c) {
        if (attribute == ATTR_LABEL_TEXT) *value = c.s.label;
        else if (attribute == ATTR_CONSTANT_NAME) *value = c.s.name;
        else if (attribute == ATTR_XNAME && c.s.type == CtrlType::Graph)
            *value = c.s.xLabel;
        else if (attribute == ATTR_YNAME && c.s.type == CtrlType::Graph)
            *value = c.s.yLabel;
        else return UIE_BAD_ATTRIBUTE;
        return 0;
    });
}

int GetCtrlBoundingRect(int panel, int control, int* top, int* left, int* height, int* width) {
    return ReadControl(panel, control, [&](Control& c) {
        if (top) *top = c.s.top;
        if (left) *left = c.s.left;
        if (height) *height = c.s.height;
        if (width) *width = c.s.width;
        return 0;
    });
}

// ---- list controls -------------------------------------------------------------------------

namespace {

int InsertItem(int panel, int control, int index, const std::string& label, const Value& value) {
    return ChangeControl(panel, control, [&](Control& c) {
        ControlState& s = c.s;
        if (!IsList(s)) return UIE_TYPE_MISMATCH;
        if (s.items.empty() && s.selected < 0) s.valueType = std::holds_alternative<std::string>(value)
                                                                 ? ValueType::Text
                                                             : std::holds_alternative<int>(value)
                                                                 ? ValueType::Int
                                                                 : ValueType::Double;
        if (!SameKind(value, s.valueType)) return UIE_TYPE_MISMATCH;
        int count = static_cast<int>(s.items.size());
        if (index < -1 || index > count) return UIE_INDEX_OUT_OF_RANGE;
        int at = index == -1 ? count : index;
        s.items.insert(s.items.begin() + at, ListItem{label, Coerce(value, s.valueType)});
        if (s.selected < 0) s.selected = 0;
        else if (at <= s.selected && count > 0) ++s.selected;
        return 0;
    });
}

}  // namespace

int InsertListItem(int panel, int control, int index, const std::string& label, int value) {
    return InsertItem(panel, control, index, label, value);
}
int InsertListItem(int panel, int control, int index, const std::string& label, double value) {
    return InsertItem(panel, control, index, label, value);
}
int InsertListItem(int panel, int control, int index, const std::string& label,
                   const std::string& value) {
    return InsertItem(panel, control, index, label, value);
}

int DeleteListItem(int panel, int control, int index, int count) {
    return ChangeControl(panel, control, [&](Control& c) {
        ControlState& s = c.s;
        if (!IsList(s)) return UIE_TYPE_MISMATCH;
        int size = static_cast<int>(s.items.size());
        if (index < 0 || index >= size) return size == 0 && index == 0 ? 0 : UIE_INDEX_OUT_OF_RANGE;
        int end = count < 0 ? size : std::min(size, index + count);
        s.items.erase(s.items.begin() + index, s.items.begin() + end);
        int remaining = static_cast<int>(s.items.size());
        if (s.selected >= end) s.selected -= end - index;
        else if (s.selected >= index) s.selected = std::min(index, remaining - 1);
        if (remaining == 0) s.selected = -1;
        return 0;
    });
}

int ClearListCtrl(int panel, int control) {
    return ChangeControl(panel, control, [](Control& c) {
        if (!IsList(c.s)) return UIE_TYPE_MISMATCH;
        c.s.items.clear();
        c.s.selected = -1;
        return 0;
    });
}

int GetNumListItems(int panel, int control, int* count) {
    if (!count) return UIE_BAD_ARGUMENT;
    return ReadControl(panel, control, [&](Control& c) {
        if (!IsList(c.s)) return UIE_TYPE_MISMATCH;
        *count = static_cast<int>(c.s.items.size());
        return 0;
    });
}

int GetCtrlIndex(int panel, int control, int* index) {
    if (!index) return UIE_BAD_ARGUMENT;
    return ReadControl(panel, control, [&](Control& c) {
        if (!IsList(c.s)) return UIE_TYPE_MISMATCH;
        *index = c.s.selected;
        return 0;
    });
}

int SetCtrlIndex(int panel, int control, int index) {
    return ChangeControl(panel, control, [&](Control& c) {
        if (!IsList(c.s)) return UIE_TYPE_MISMATCH;
        if (index < 0 || index >= static_cast<int>(c.s.items.size())) return UIE_INDEX_OUT_OF_RANGE;
        c.s.selected = index;
        return 0;
    });
}

int GetLabelFromIndex(int panel, int control, int index, std::string* label) {
    if (!label) return UIE_BAD_ARGUMENT;
    return ReadControl(panel, control, [&](Control& c) {
        if (!IsList(c.s)) return UIE_TYPE_MISMATCH;
        if (index < 0 || index >= static_cast<int>(c.s.items.size())) return UIE_INDEX_OUT_OF_RANGE;
        *label = c.s.items[index].label;
        return 0;
    });
}

template <class Number>
static int ValueFromIndex(int panel, int control, int index, Number* value) {
    if (!value) return UIE_BAD_ARGUMENT;
    return ReadControl(panel, control, [&](Control& c) {
        if (!IsList(c.s)) return UIE_TYPE_MISMATCH;
        if (index < 0 || index >= static_cast<int>(c.s.items.size())) return UIE_INDEX_OUT_OF_RANGE;
        const Value& v = c.s.items[index].value;
        if (std::holds_alternative<std::string>(v)) return UIE_TYPE_MISMATCH;
        if constexpr (std::is_same_v<Number, int>) *value = ToInt(AsDouble(v));
        else *value = AsDouble(v);
        return 0;
    });
}

int GetValueFromIndex(int panel, int control, int index, int* value) {
    return ValueFromIndex(panel, control, index, value);
}
int GetValueFromIndex(int panel, int control, int index, double* value) {
    return ValueFromIndex(panel, control, index, value);
}

int ConvertTreeToRadioGroup(int panel, int control) {
    return ChangeControl(panel, control, [](Control& c) {
        if (c.s.type != CtrlType::Tree && c.s.type != CtrlType::RadioGroup) return UIE_TYPE_MISMATCH;
        c.s.type = CtrlType::RadioGroup;
        if (c.s.selected < 0 && !c.s.items.empty()) c.s.selected = 0;
        return 0;
    });
}

int GetMarkedOption(int panel, int control, int* index) {
    if (!index) return UIE_BAD_ARGUMENT;
    return ReadControl(panel, control, [&](Control& c) {
        if (c.s.type != CtrlType::RadioGroup) return UIE_TYPE_MISMATCH;
        *index = c.s.selected;
        return 0;
    });
}

int MarkOption(int panel, int control, int index) {
    return ChangeControl(panel, control, [&](Control& c) {
        if (c.s.type != CtrlType::RadioGroup) return UIE_TYPE_MISMATCH;
        if (index < 0 || index >= static_cast<int>(c.s.items.size())) return UIE_INDEX_OUT_OF_RANGE;
        c.s.selected = index;
        return 0;
    });
}

// ---- tables --------------------------------------------------------------------------------

namespace {

Value EmptyCell(ValueType type) {
    switch (type) {
        case ValueType::Int: return 0;
        case ValueType::Double: return 0.0;
        case ValueType::Text: return std::string();
    }
    return 0;
}

// The cell of a table (model lock held), or nullptr with *status set.
Value* CellOf(Control& c, Point cell, int* status, ValueType* type = nullptr) {
    if (c.s.type != CtrlType::Table) {
        *status = UIE_TYPE_MISMATCH;
        return nullptr;
    }
    if (cell.y < 1 || cell.y > static_cast<int>(c.s.cells.size()) || cell.x < 1 ||
        cell.x > static_cast<int>(c.s.columns.size())) {
        *status = UIE_INDEX_OUT_OF_RANGE;
        return nullptr;
    }
    if (type) *type = c.s.columns[cell.x - 1].type;
    return &c.s.cells[cell.y - 1][cell.x - 1];
}

int SetCell(int panel, int control, Point cell, const Value& value) {
    return ChangeControl(panel, control, [&](Control& c) {
        int status = 0;
        ValueType type;
        Value* target = CellOf(c, cell, &status, &type);
        if (!target) return status;
        if (!SameKind(value, type)) return UIE_TYPE_MISMATCH;
        *target = Coerce(value, type);
        return 0;
    });
}

template <class Number>
int GetCellNumber(int panel, int control, Point cell, Number* value) {
    if (!value) return UIE_BAD_ARGUMENT;
    return ReadControl(panel, control, [&](Control& c) {
        int status = 0;
        Value* v = CellOf(c, cell, &status);
        if (!v) return status;
        if (std::holds_alternative<std::string>(*v)) return UIE_TYPE_MISMATCH;
        if constexpr (std::is_same_v<Number, int>) *value = ToInt(AsDouble(*v));
        else *value = static_cast<Number>(AsDouble(*v));
        return 0;
    });
}

}  // namespace

int InsertTableRows(int panel, int control, int row, int count) {
    return ChangeControl(panel, control, [&](Control& c) {
        ControlState& s = c.s;
        if (s.type != CtrlType::Table) return UIE_TYPE_MISMATCH;
        int rows = static_cast<int>(s.cells.size());
        if (count < 0 || count > 100000) return UIE_BAD_ARGUMENT;
        if (row != -1 && (row < 1 || row > rows + 1)) return UIE_INDEX_OUT_OF_RANGE;
        int at = row == -1 ? rows : row - 1;
        std::vector<Value> empty;
        for (const TableColumn& column : s.columns) empty.push_back(EmptyCell(column.type));
        s.cells.insert(s.cells.begin() + at, count, empty);
        return 0;
    });
}

int DeleteTableRows(int panel, int control, int row, int count) {
    return ChangeControl(panel, control, [&](Control& c) {
        ControlState& s = c.s;
        if (s.type != CtrlType::Table) return UIE_TYPE_MISMATCH;
        int rows = static_cast<int>(s.cells.size());
        if (rows == 0 && row == 1) return 0;
        if (row < 1 || row > rows) return UIE_INDEX_OUT_OF_RANGE;
        int end = count < 0 ? rows : std::min(rows, row - 1 + count);
        s.cells.erase(s.cells.begin() + (row - 1), s.cells.begin() + end);
        int left = static_cast<int>(s.cells.size());
        if (s.activeCell.y > left) s.activeCell.y = std::max(1, left);
        return 0;
    });
}

int SetTableCellVal(int panel, int control, Point cell, int value) {
    return SetCell(panel, control, cell, value);
}
int SetTableCellVal(int panel, int control, Point cell, double value) {
    return SetCell(panel, control, cell, value);
}
int SetTableCellVal(int panel, int control, Point cell, const std::string& value) {
    return SetCell(panel, control, cell, value);
}
int GetTableCellVal(int panel, int control, Point cell, int* value) {
    return GetCellNumber(panel, control, cell, value);
}
int GetTableCellVal(int panel, int control, Point cell, float* value) {
    return GetCellNumber(panel, control, cell, value);
}
int GetTableCellVal(int panel, int control, Point cell, double* value) {
    return GetCellNumber(panel, control, cell, value);
}
int GetTableCellVal(int panel, int control, Point cell, std::string* value) {
    if (!value) return UIE_BAD_ARGUMENT;
    return ReadControl(panel, control, [&](Control& c) {
        int status = 0;
        Value* v = CellOf(c, cell, &status);
        if (!v) return status;
        auto text = std::get_if<std::string>(v);
        if (!text) return UIE_TYPE_MISMATCH;
        *value = *text;
        return 0;
    });
}

int GetActiveTableCell(int panel, int control, Point* cell) {
    if (!cell) return UIE_BAD_ARGUMENT;
    return ReadControl(panel, control, [&](Control& c) {
        if (c.s.type != CtrlType::Table) return UIE_TYPE_MISMATCH;
        *cell = c.s.activeCell;
        return 0;
    });
}

int SetActiveTableCell(int panel, int control, Point cell) {
    return ChangeControl(panel, control, [&](Control& c) {
        int status = 0;
        if (!CellOf(c, cell, &status)) return status;
        c.s.activeCell = cell;
        return 0;
    });
}

// ---- tab controls --------------------------------------------------------------------------

int GetPanelHandleFromTabPage(int panel, int tabControl, int pageIndex, int* pagePanel) {
    if (!pagePanel) return UIE_BAD_ARGUMENT;
    return ReadControl(panel, tabControl, [&](Control& c) {
        if (c.s.type != CtrlType::Tab) return UIE_TYPE_MISMATCH;
        if (pageIndex < 0 || pageIndex >= static_cast<int>(c.s.pages.size()))
            return UIE_INDEX_OUT_OF_RANGE;
        *pagePanel = c.s.pages[pageIndex];
        return 0;
    });
}

int SetTabPageAttribute(int panel, int tabControl, int pageIndex, int attribute, int value) {
    int page = 0;
    int status = GetPanelHandleFromTabPage(panel, tabControl, pageIndex, &page);
    if (status < 0) return status;
    if (attribute != ATTR_DIMMED) return UIE_BAD_ATTRIBUTE;
    status = ChangeControl(panel, tabControl, [&](Control& c) {
        c.s.pageDimmed[pageIndex] = value != 0;
        return 0;
    });
    if (status < 0) return status;
    return SetPanelAttribute(page, ATTR_DIMMED, value);
}

int GetTabPageAttribute(int panel, int tabControl, int pageIndex, int attribute, int* value) {
    if (!value) return UIE_BAD_ARGUMENT;
    if (attribute != ATTR_DIMMED) return UIE_BAD_ATTRIBUTE;
    return ReadControl(panel, tabControl, [&](Control& c) {
        if (c.s.type != CtrlType::Tab) return UIE_TYPE_MISMATCH;
        if (pageIndex < 0 || pageIndex >= static_cast<int>(c.s.pages.size()))
            return UIE_INDEX_OUT_OF_RANGE;
        *value = c.s.pageDimmed[pageIndex];
        return 0;
    });
}

// ---- pictures ------------------------------------------------------------------------------

int NewBitmap(int bytesPerRow, int pixelDepth, int width, int height, const int* palette,
              const unsigned char* bits, int* bitmapId) {
    if (!bitmapId || !palette || !bits || pixelDepth != 8 || width <= 0 || height <= 0 ||
        bytesPerRow < width || int64_t(width) * height > kMaxBitmapPixels ||
        int64_t(bytesPerRow) * height > 4 * kMaxBitmapPixels)
        return UIE_BAD_ARGUMENT;
    auto image = std::make_shared<PictureImage>();
    image->width = width;
    image->height = height;
    image->pixels.resize(size_t(width) * height);
    for (int row = 0; row < height; ++row)
        std::memcpy(image->pixels.data() + size_t(row) * width, bits + size_t(row) * bytesPerRow,
                    width);
    image->palette.assign(palette, palette + 256);
    std::lock_guard lock(R().modelMutex);
    int id = R().nextHandle++;
    R().bitmaps[id] = std::move(image);
    *bitmapId = id;
    return 0;
}

int DiscardBitmap(int bitmapId) {
    std::lock_guard lock(R().modelMutex);
    return R().bitmaps.erase(bitmapId) ? 0 : UIE_BAD_BITMAP;
}

int SetCtrlBitmap(int panel, int control, int /*imageId*/, int bitmapId) {
    return ChangeControl(panel, control, [&](Control& c) {
        if (c.s.type != CtrlType::Picture) return UIE_TYPE_MISMATCH;
        if (bitmapId == 0) {
            c.s.picture.reset();  // 0 clears the picture
            return 0;
        }
        auto it = R().bitmaps.find(bitmapId);
        if (it == R().bitmaps.end()) return UIE_BAD_BITMAP;
        c.s.picture = it->second;
        return 0;
    });
}

int GetCtrlPicture(int panel, int control, PictureImage* image) {
    if (!image) return UIE_BAD_ARGUMENT;
    return ReadControl(panel, control, [&](Control& c) {
        if (c.s.type != CtrlType::Picture) return UIE_TYPE_MISMATCH;
        *image = c.s.picture ? *c.s.picture : PictureImage{};
        return 0;
    });
}

// ---- graphs --------------------------------------------------------------------------------

int PlotXY(int panel, int control, std::span<const double> x, std::span<const double> y,
           int plotStyle, int color) {
    if (x.size() != y.size()) return UIE_BAD_ARGUMENT;
    int handle = 0;
    int status = ChangeControl(panel, control, [&](Control& c) {
        if (c.s.type != CtrlType::Graph) return UIE_TYPE_MISMATCH;
        Plot plot;
        plot.handle = handle = R().nextPlot++;
        plot.style = plotStyle;
        plot.color = color;
        plot.x.assign(x.begin(), x.end());
        plot.y.assign(y.begin(), y.end());
        c.s.plots.push_back(std::move(plot));
        return 0;
    });
    return status < 0 ? status : handle;
}

int PlotY(int panel, int control, std::span<const double> y, int plotStyle, int color) {
    std::vector<double> x(y.size());
    for (size_t i = 0; i < x.size(); ++i) x[i] = static_cast<double>(i);
    return PlotXY(panel, control, x, y, plotStyle, color);
}

int DeleteGraphPlot(int panel, int control, int plotHandle) {
    return ChangeControl(panel, control, [&](Control& c) {
        if (c.s.type != CtrlType::Graph) return UIE_TYPE_MISMATCH;
        if (plotHandle == -1) {
            c.s.plots.clear();
            return 0;
        }
        auto it = std::find_if(c.s.plots.begin(), c.s.plots.end(),
                               [&](const Plot& p) { return p.handle == plotHandle; });
        if (it == c.s.plots.end()) return UIE_BAD_ARGUMENT;
        c.s.plots.erase(it);
        return 0;
    });
}

int GetGraphPlots(int panel, int control, std::vector<Plot>* plots) {
    if (!plots) return UIE_BAD_ARGUMENT;
    return ReadControl(panel, control, [&](Control& c) {
        if (c.s.type != CtrlType::Graph) return UIE_TYPE_MISMATCH;
        *plots = c.s.plots;
        return 0;
    });
}

}  // namespace ui
