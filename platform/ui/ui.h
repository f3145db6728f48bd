// The user-interface run-time of the instrument programs.
//
// Panels and menu bars are loaded from a resource file (our own JSON format,
// see docs/resources.md) and addressed by handle; controls by (panel, id).
// Callbacks are bound by name and always run on the dispatch thread: the
// thread that runs RunUserInterface. Every other function may be called from
// any thread. A front-end (headless or Qt) shows the model and feeds user
// input back as queued events.
//
// Functions return 0 (or a handle > 0) on success and a negative error code
// on failure; ErrorText() describes the code.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace ui {

// ---- error codes ---------------------------------------------------------------

constexpr int UIE_NO_ERROR = 0;
constexpr int UIE_NOT_INITIALIZED = -1;
constexpr int UIE_FILE_NOT_FOUND = -2;
constexpr int UIE_BAD_RESOURCE_FILE = -3;
constexpr int UIE_RESOURCE_NOT_FOUND = -4;
constexpr int UIE_UNKNOWN_CALLBACK = -5;
constexpr int UIE_BAD_PANEL_HANDLE = -6;
constexpr int UIE_BAD_CONTROL_ID = -7;
constexpr int UIE_BAD_MENU_HANDLE = -8;
constexpr int UIE_BAD_ITEM = -9;
constexpr int UIE_TYPE_MISMATCH = -10;
constexpr int UIE_INDEX_OUT_OF_RANGE = -11;
constexpr int UIE_BAD_ATTRIBUTE = -12;
constexpr int UIE_BAD_ARGUMENT = -13;
constexpr int UIE_BAD_THREAD_FUNCTION_ID = -14;
constexpr int UIE_BAD_BITMAP = -15;

// Text of an error code ("Panel handle is invalid", ...).
std::string ErrorText(int code);
// Details of the last resource-loading failure of this thread (file, line of
// the JSON, name of the unknown callback, ...).
std::string LastLoadError();

// ---- events ----------------------------------------------------------------------

constexpr int EVENT_NONE = 0;
constexpr int EVENT_COMMIT = 1;
constexpr int EVENT_VAL_CHANGED = 2;
constexpr int EVENT_LEFT_CLICK = 3;          // eventData1 = y, eventData2 = x (panel coordinates)
constexpr int EVENT_LEFT_DOUBLE_CLICK = 4;   // as EVENT_LEFT_CLICK
constexpr int EVENT_RIGHT_CLICK = 5;
constexpr int EVENT_KEYPRESS = 7;            // eventData1 = key code (see VAL_ENTER_VKEY)
constexpr int EVENT_GOT_FOCUS = 8;
constexpr int EVENT_LOST_FOCUS = 9;
constexpr int EVENT_CLOSE = 11;              // panel close box
constexpr int EVENT_TIMER_TICK = 15;
constexpr int EVENT_EDIT_MODE_STATE_CHANGE = 32;  // table cell: eventData1 = 1 editing starts, 0 ends;
                                                  // eventData2 = row (1-based) x 65536 + column
constexpr int EVENT_MOUSE_POINTER_MOVE = 33;  // eventData1 = y, eventData2 = x (panel coordinates)
constexpr int EVENT_MOUSE_POINTER_LEAVE = 34;  // the pointer left a picture's image

// Key codes of EVENT_KEYPRESS: a printable key is its character code.
constexpr int VAL_ENTER_VKEY = 0x0500;
constexpr int VAL_ESC_VKEY = 0x0600;

// Control and panel callback. `control` is 0 for panel events.
using CtrlCallbackPtr = int (*)(int panel, int control, int event, void* callbackData,
                                int eventData1, int eventData2);
using PanelCallbackPtr = CtrlCallbackPtr;
// Menu callback: called whenever the item is chosen.
using MenuCallbackPtr = void (*)(int menuBar, int menuItem, void* callbackData, int panel);

// Binds a callback name of the resource files to a function. Names must be
// registered before the resource that uses them is loaded.
void RegisterCallback(const std::string& name, CtrlCallbackPtr callback);
void RegisterMenuCallback(const std::string& name, MenuCallbackPtr callback);

// ---- run-time life ---------------------------------------------------------------

// Starts the run-time core (idempotent). Front-ends attach with SetFrontEnd
// (frontend.h); without one the run-time behaves as the headless front-end
// with no answers queued.
int InitRuntime();
// Discards every panel, menu bar and pending event, joins timers and thread
// functions, and forgets registered callbacks (tests call it between cases).
void ResetRuntime();

// Runs the event loop on the calling thread, which becomes the dispatch
// thread, until QuitUserInterface. Returns the code given to it.
int RunUserInterface();
// Ends the innermost RunUserInterface once the current callback returns.
void QuitUserInterface(int code);
// True from QuitUserInterface until the loop it ends has returned.
bool QuitRequested();
// Dispatches the events already queued, then returns.
int ProcessSystemEvents();
// Dispatches events until a commit event of a control or a menu choice has
// been dispatched, and returns EVENT_COMMIT with its panel and control (the
// menu item for a menu). With wait = 0 it returns EVENT_NONE at once when no
// such event is queued. It returns EVENT_NONE as well when the user interface
// is being quit.
int GetUserEvent(int wait, int* panel, int* control);

// Queues an event as the user's input would (front-ends, scripts, tests).
// Thread-safe. A commit of a control with a callback runs the callback on
// the dispatch thread.
void PostEvent(int panel, int control, int event, int eventData1 = 0, int eventData2 = 0);
void PostMenuEvent(int menuBar, int menuItem);
// Calls `fn` on the dispatch thread (queued). Used by front-ends and scripts.
void PostDeferredCall(std::function<void()> fn);

// True on the thread that runs RunUserInterface.
bool IsDispatchThread();

// Waits `seconds` of instrument time (scaled, see os::TimeScale); no events
// are processed meanwhile.
void Delay(double seconds);

// ---- long work -----------------------------------------------------------------------

// Long work on the dispatch thread (a run, applying settings, a warm-up)
// waits through these, so that the window keeps answering: while a hold of
// long work is in force (HoldDimmed below), the dispatch thread goes on
// dispatching the user's events while it waits (their callbacks run nested,
// inside the waiting callback); otherwise, and on any other thread, they
// only wait. The caller must hold no lock.
//
// Waits `seconds` of instrument time.
void DelayWithEvents(double seconds);
// Waits until `done` returns true, at most `seconds` of instrument time
// (never less than `minRealSeconds` of real time, so that a loaded host does
// not turn a slow start into a time-out). `done` is asked at least every
// `pollMs` real milliseconds and after every event. Returns done().
bool WaitWithEvents(const std::function<bool()>& done, double seconds, double minRealSeconds = 0,
                    double pollMs = 2.0);

// While long work runs, the controls that would conflict with it are held
// dimmed: they show dimmed whatever the program sets meanwhile, and show
// their own state again when the last hold on them ends. The dispatcher
// drops the user's input to a control, page or menu item that is dimmed when
// the event comes to be dispatched, so a click queued before the hold began
// cannot act later. Returns the hold's id (> 0).
struct ControlRef {
    int panel = 0;
    int control = 0;
};
struct MenuItemRef {
    int menuBar = 0;
    int item = 0;
};
int HoldDimmed(const std::vector<ControlRef>& controls, const std::vector<MenuItemRef>& items = {});
void ReleaseHold(int hold);
// True while any hold is in force (long work runs).
bool WorkInProgress();

// ---- panels ------------------------------------------------------------------------

// Loads panel `resourceNumber` from `file` (a path relative to the folder of
// the executable, or absolute). parent 0 = top-level. Returns the handle or
// a negative error code; LastLoadError() tells what was wrong.
int LoadPanel(int parent, const std::string& file, int resourceNumber);
int DisplayPanel(int panel);
int HidePanel(int panel);
int DiscardPanel(int panel);

// Panel attributes.
constexpr int ATTR_TITLE = 100;        // text
constexpr int ATTR_WIDTH = 101;        // int, pixels
constexpr int ATTR_HEIGHT = 102;       // int
constexpr int ATTR_TOP = 103;          // int; VAL_AUTO_CENTER centres on the screen
constexpr int ATTR_LEFT = 104;         // int; VAL_AUTO_CENTER centres on the screen
constexpr int ATTR_VISIBLE = 105;      // int 0/1
constexpr int ATTR_DIMMED = 106;       // int 0/1 (panels, controls, menu items, tab pages)
constexpr int ATTR_LABEL_TEXT = 107;   // text (controls, menu items)
constexpr int ATTR_MIN_VALUE = 108;    // number (numerics, sliders)
constexpr int ATTR_MAX_VALUE = 109;    // number
constexpr int ATTR_ENABLED = 110;      // int 0/1 (timers)
constexpr int ATTR_INTERVAL = 111;     // double seconds (timers)
constexpr int ATTR_CHECKED = 112;      // int 0/1 (menu items)
constexpr int ATTR_CALLBACK_NAME = 113;  // text, read only
constexpr int ATTR_CTRL_TYPE = 114;    // int (CtrlType), read only
constexpr int ATTR_NUM_ROWS = 115;     // int (tables), read only
constexpr int ATTR_NUM_COLUMNS = 116;  // int (tables), read only
constexpr int ATTR_PANEL_PARENT = 117; // int, read only
constexpr int ATTR_CONSTANT_NAME = 118;  // text, read only: symbolic name in the resource
constexpr int ATTR_PICTURE_ZOOM = 119;   // double (pictures): screen pixels per image pixel, 0 fits
constexpr int ATTR_PICTURE_PALETTE = 120;  // int (pictures): VAL_PALETTE_*
constexpr int ATTR_SCALE_LOW = 121;        // double (pictures): data value that byte 0 shows
constexpr int ATTR_SCALE_HIGH = 122;       // double (pictures): data value that byte 255 shows
constexpr int ATTR_XNAME = 123;            // text (graphs): title of the x axis
constexpr int ATTR_YNAME = 124;            // text (graphs): title of the y axis
constexpr int VAL_AUTO_CENTER = -32768;

int SetPanelAttribute(int panel, int attribute, int value);
int SetPanelAttribute(int panel, int attribute, const std::string& value);
int GetPanelAttribute(int panel, int attribute, int* value);
int GetPanelAttribute(int panel, int attribute, std::string* value);
int SetPanelSize(int panel, int height, int width);
int SetPanelPos(int panel, int top, int left);

// Size of the screen the front-end shows panels on.
int GetScreenSize(int* height, int* width);

// Looks up a panel or control by the symbolic names of the resource file
// ("MAIN", "MAIN.STATUS", "CAMERA_PAGE.EXPOSURE"). Returns the handle / the
// control id, or a negative error code.
int FindPanel(const std::string& panelName);
int FindControl(int panel, const std::string& controlName);
// The status box named by the resource file's "status_box", once its panel
// is loaded. Returns 0, or UIE_RESOURCE_NOT_FOUND.
int GetStatusBox(int* panel, int* control);

// ---- controls ------------------------------------------------------------------------

enum class CtrlType {
    Command,     // push button
    Toggle,      // toggle button; value 0/1
    Lamp,        // LED; value 0/1
    Numeric,     // number field (int or double)
    Slider,      // number slider (int or double)
    String,      // one-line text
    TextBox,     // multi-line, SetCtrlVal appends
    TextMessage, // static text
    Ring,        // drop-down list of items with values
    ListBox,     // list of items with values
    RadioButton, // single radio button; value 0/1
    RadioGroup,  // options with one marked (also a converted tree)
    Tree,        // item list; ConvertTreeToRadioGroup makes it a radio group
    Table,       // cells of int, double or text
    Tab,         // tab control; value = active page index
    Picture,     // 8-bit image with a palette
    Graph,       // plots addressed by handle
    Timer,       // invisible; ticks while enabled
    Decoration,  // frame, no value
    ProgressBar, // shows how far work is: value from min to max; its label is drawn in the bar
};

// Values. Numbers convert between int and double; text goes only to and from
// text controls (String, TextBox, TextMessage) and text-valued list items.
// A TextBox appends what SetCtrlVal gives it.
int SetCtrlVal(int panel, int control, int value);
int SetCtrlVal(int panel, int control, double value);
int SetCtrlVal(int panel, int control, const std::string& value);
int SetCtrlVal(int panel, int control, const char* value);
int GetCtrlVal(int panel, int control, int* value);
int GetCtrlVal(int panel, int control, float* value);
int GetCtrlVal(int panel, int control, double* value);
int GetCtrlVal(int panel, int control, std::string* value);
// Copies at most size - 1 characters and a terminating zero (C-style callers).
int GetCtrlVal(int panel, int control, char* buffer, size_t size);

// Restores the control's default value (the resource's "value", the default
// list index, an empty text box).
int DefaultCtrl(int panel, int control);
// Replaces the contents of a text box.
int ResetTextBox(int panel, int control, const std::string& text);
// Appends to a text box as SetCtrlVal does, shown in the warning colour:
// what an observer must not miss.
int AppendWarningText(int panel, int control, const std::string& text);
// The parts of a text box's text that were appended as warnings, oldest
// first (contiguous warnings form one part).
int GetTextBoxWarnings(int panel, int control, std::vector<std::string>* warnings);

int SetCtrlAttribute(int panel, int control, int attribute, int value);
int SetCtrlAttribute(int panel, int control, int attribute, double value);
int SetCtrlAttribute(int panel, int control, int attribute, const std::string& value);
int GetCtrlAttribute(int panel, int control, int attribute, int* value);
int GetCtrlAttribute(int panel, int control, int attribute, double* value);
int GetCtrlAttribute(int panel, int control, int attribute, std::string* value);
// Both width and height of a control, and its position on the panel.
int GetCtrlBoundingRect(int panel, int control, int* top, int* left, int* height, int* width);

// ---- list controls (Ring, ListBox, Tree, RadioGroup) ------------------------------

// index -1 appends. The value is the item's value as GetCtrlVal returns it.
int InsertListItem(int panel, int control, int index, const std::string& label, int value);
int InsertListItem(int panel, int control, int index, const std::string& label, double value);
int InsertListItem(int panel, int control, int index, const std::string& label,
                   const std::string& value);
// count -1 deletes from index to the end.
int DeleteListItem(int panel, int control, int index, int count);
int ClearListCtrl(int panel, int control);
int GetNumListItems(int panel, int control, int* count);
int GetCtrlIndex(int panel, int control, int* index);  // -1 when empty
int SetCtrlIndex(int panel, int control, int index);
int GetLabelFromIndex(int panel, int control, int index, std::string* label);
int GetValueFromIndex(int panel, int control, int index, int* value);
int GetValueFromIndex(int panel, int control, int index, double* value);

// Tree controls become radio groups: exactly one option is marked.
int ConvertTreeToRadioGroup(int panel, int control);
int GetMarkedOption(int panel, int control, int* index);
int MarkOption(int panel, int control, int index);

// ---- tables (rows and columns are 1-based) --------------------------------------------

struct Point {
    int x = 0;  // column
    int y = 0;  // row
};
inline Point MakePoint(int column, int row) { return Point{column, row}; }

// Appends / inserts `count` rows before `row` (-1 appends). New cells hold 0
// or "" by their column's type.
int InsertTableRows(int panel, int control, int row, int count);
// count -1 deletes from row to the end.
int DeleteTableRows(int panel, int control, int row, int count);
int SetTableCellVal(int panel, int control, Point cell, int value);
int SetTableCellVal(int panel, int control, Point cell, double value);
int SetTableCellVal(int panel, int control, Point cell, const std::string& value);
int GetTableCellVal(int panel, int control, Point cell, int* value);
int GetTableCellVal(int panel, int control, Point cell, float* value);
int GetTableCellVal(int panel, int control, Point cell, double* value);
int GetTableCellVal(int panel, int control, Point cell, std::string* value);
int GetActiveTableCell(int panel, int control, Point* cell);
int SetActiveTableCell(int panel, int control, Point cell);

// ---- tab controls --------------------------------------------------------------------

int GetPanelHandleFromTabPage(int panel, int tabControl, int pageIndex, int* pagePanel);
int SetTabPageAttribute(int panel, int tabControl, int pageIndex, int attribute, int value);
int GetTabPageAttribute(int panel, int tabControl, int pageIndex, int attribute, int* value);

// ---- pictures --------------------------------------------------------------------------

// An 8-bit bitmap: `bytesPerRow` >= width bytes per row, `palette` 256
// colours 0x00RRGGBB (entry i of a grey ramp is i * 0x010101). The bits are
// copied; the caller may free them after NewBitmap. Returns the bitmap id.
int NewBitmap(int bytesPerRow, int pixelDepth, int width, int height, const int* palette,
              const unsigned char* bits, int* bitmapId);
int DiscardBitmap(int bitmapId);
// Shows the bitmap in a picture control (the picture keeps its own copy).
int SetCtrlBitmap(int panel, int control, int imageId, int bitmapId);

// How a picture control colours the bytes of its bitmap. The program's
// bitmap decides what each byte means; these only choose how it looks.
constexpr int VAL_PALETTE_BITMAP = 0;      // the bitmap's own palette (the display's grey ramp)
constexpr int VAL_PALETTE_INVERTED = 1;    // the bitmap's palette the other way round
constexpr int VAL_PALETTE_PERCEPTUAL = 2;  // dark blue through green to yellow, even in lightness

// What a picture control currently shows (tests, screenshots).
struct PictureImage {
    int width = 0;
    int height = 0;
    std::vector<unsigned char> pixels;  // width x height, row 0 at the top
    std::vector<int> palette;           // 256 entries 0x00RRGGBB
};
int GetCtrlPicture(int panel, int control, PictureImage* image);
// The 256 colours (0x00RRGGBB) that `image` is shown in with palette choice
// `palette` (VAL_PALETTE_*).
std::vector<int> ShownPalette(const PictureImage& image, int palette);

// ---- graphs --------------------------------------------------------------------------

constexpr int VAL_THIN_LINE = 0;
constexpr int VAL_VERTICAL_BAR = 1;
constexpr int VAL_SCATTER = 2;

constexpr int VAL_RED = 0xFF0000;
constexpr int VAL_GREEN = 0x00FF00;
constexpr int VAL_BLUE = 0x0000FF;
constexpr int VAL_BLACK = 0x000000;
constexpr int VAL_WHITE = 0xFFFFFF;
constexpr int VAL_YELLOW = 0xFFFF00;

// Plots y against x. Returns the plot handle (> 0) or a negative error code.
int PlotXY(int panel, int control, std::span<const double> x, std::span<const double> y,
           int plotStyle, int color);
// Plots y against its index 0, 1, 2, ...
int PlotY(int panel, int control, std::span<const double> y, int plotStyle, int color);
// plotHandle -1 deletes every plot of the graph.
int DeleteGraphPlot(int panel, int control, int plotHandle);

struct Plot {
    int handle = 0;
    int style = VAL_THIN_LINE;
    int color = VAL_BLACK;
    std::vector<double> x;
    std::vector<double> y;
};
int GetGraphPlots(int panel, int control, std::vector<Plot>* plots);

// ---- menu bars ----------------------------------------------------------------------

// Loads menu bar `resourceNumber` and attaches it to `panel`. Returns the handle.
int LoadMenuBar(int panel, const std::string& file, int resourceNumber);
int DiscardMenuBar(int menuBar);
int SetMenuBarAttribute(int menuBar, int menuItem, int attribute, int value);
int GetMenuBarAttribute(int menuBar, int menuItem, int attribute, int* value);
int FindMenuItem(int menuBar, const std::string& itemName);

// ---- popups ---------------------------------------------------------------------------

// Shows a modal message and returns when the user has dismissed it; on the
// dispatch thread during long work it returns at once, the message staying
// on screen until dismissed.
int MessagePopup(const std::string& title, const std::string& message);
// Asks a yes/no question: 1 yes, 0 no.
int ConfirmPopup(const std::string& title, const std::string& message);

constexpr int VAL_LOAD_BUTTON = 0;
constexpr int VAL_SAVE_BUTTON = 1;
constexpr int VAL_NO_FILE_SELECTED = 0;
constexpr int VAL_EXISTING_FILE_SELECTED = 1;
constexpr int VAL_NEW_FILE_SELECTED = 2;
// Asks for a file. `patternList` is "*.fts;*.bmp"; returns one of the VAL_*
// selection codes and the chosen path.
int FileSelectPopup(const std::string& defaultDirectory, const std::string& defaultPattern,
                    const std::string& patternList, const std::string& title, int buttonLabel,
                    std::string* path);

// Asks for a folder (for example where to save what could not be saved
// elsewhere). Returns 1 and the chosen folder, or 0 when cancelled.
int DirSelectPopup(const std::string& defaultDirectory, const std::string& title,
                   std::string* path);

// ---- thread pool ------------------------------------------------------------------------

using ThreadFunction = std::function<int()>;
// Starts `fn` on a pool thread; *functionId receives its id.
int ScheduleThreadFunction(ThreadFunction fn, int* functionId);
// Waits until the function has returned. On the dispatch thread, events keep
// being dispatched meanwhile (callbacks run while we wait).
int WaitForThreadFunctionCompletion(int functionId);
int GetThreadFunctionReturnValue(int functionId, int* returnValue);
// Forgets a finished function (waits for it first if it still runs).
int ReleaseThreadFunctionID(int functionId);

// ---- timers ------------------------------------------------------------------------------

// Timer controls tick on their own while enabled (interval in instrument
// seconds, scaled). Tests switch the automatic ticks off and post
// EVENT_TIMER_TICK themselves.
void SetAutomaticTimers(bool on);

// ---- analysis --------------------------------------------------------------------------

// Counts `data` into `bins` equal bins from low to high; a value equal to
// high falls into the last bin, values outside [low, high] are not counted.
// axis[i] receives the centre of bin i. Returns 0 or UIE_BAD_ARGUMENT.
int Histogram(const double* data, int count, double low, double high, int* histogram,
              double* axis, int bins);

}  // namespace ui
