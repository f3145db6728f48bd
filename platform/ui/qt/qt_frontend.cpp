#include "platform/ui/qt/qt_frontend.h"

#include <QAction>
#include <QApplication>
#include <QFileDialog>
#include <QKeySequence>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QPixmap>
#include <QScreen>
#include <QThread>
#include <algorithm>
#include <climits>
#include <set>

#include "platform/ui/qt/qt_controls.h"
#include "platform/ui/qt/qt_widgets.h"

namespace ui {

namespace {

QString ToQString(const std::string& text) {
    return QString::fromStdString(text);
}

bool IsTabPage(const PanelState& state) {
    return state.tabControl != 0 && state.pageIndex >= 0;
}

// What the front-end keeps of a panel: everything but its controls, which
// live in their views.
PanelState WithoutControls(const PanelState& state) {
    PanelState copy;
    copy.handle = state.handle;
    copy.parent = state.parent;
    copy.tabControl = state.tabControl;
    copy.pageIndex = state.pageIndex;
    copy.name = state.name;
    copy.title = state.title;
    copy.top = state.top;
    copy.left = state.left;
    copy.width = state.width;
    copy.height = state.height;
    copy.visible = state.visible;
    copy.dimmed = state.dimmed;
    copy.hasCloseCallback = state.hasCloseCallback;
    copy.resizable = state.resizable;
    copy.minWidth = state.minWidth;
    copy.minHeight = state.minHeight;
    copy.maximized = state.maximized;
    copy.menuBar = state.menuBar;
    copy.version = state.version;
    return copy;
}

}  // namespace

struct QtFrontEnd::PanelView {
    PanelState state;          // without controls
    bool isPage = false;       // a tab page lives inside its parent's tab control
    QPointer<QWidget> window;  // the window, or the page widget of a tab page
    QPointer<QWidget> canvas;  // the panel's area: controls sit here at their top/left
    QPointer<QMenuBar> menuBar;
    int menuBarHandle = 0;
    uint64_t menuBarVersion = 0;
    std::map<int, std::unique_ptr<qt::ControlView>> controls;
    // The panel size and place last given to the window: the window follows
    // the program's changes, not every refresh (a person may have moved it).
    QSize appliedSize;
    QPoint appliedPlace{INT_MIN, INT_MIN};
};

// A call handed to the GUI thread; the mutex guiMutex_ guards `state`.
struct QtFrontEnd::GuiCall {
    enum class State { Queued, Running, Done, Abandoned };
    State state = State::Queued;
};

QtFrontEnd::QtFrontEnd(HeadlessFrontEnd* scriptResponder) : responder_(scriptResponder) {
    // Other threads ask for the screen size; QScreen is for the GUI thread only.
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        const QRect available = screen->availableGeometry();
        screenHeight_ = available.height();
        screenWidth_ = available.width();
    } else {
        screenHeight_ = 768;
        screenWidth_ = 1024;
    }
    if (QCoreApplication* app = QCoreApplication::instance())
        connect(app, &QCoreApplication::aboutToQuit, this, [this] { CloseGui(); });
    // Panels loaded before this front-end was attached still need windows.
    QMetaObject::invokeMethod(
        this, [this] { Refresh(); }, Qt::QueuedConnection);
}

QtFrontEnd::~QtFrontEnd() {
    CloseGui();
    // Views first: a tab page's widgets may sit inside another panel's window.
    for (auto& [handle, view] : panels_) view->controls.clear();
    for (auto& [handle, view] : panels_) delete view->window.data();
    panels_.clear();
}

// ---- model → windows ---------------------------------------------------------------

void QtFrontEnd::ModelChanged() {
    // Any thread. The core calls this at most once per TakeModelChanges, so
    // a queue of refreshes cannot build up.
    QMetaObject::invokeMethod(
        this, [this] { Refresh(); }, Qt::QueuedConnection);
}

void QtFrontEnd::Refresh() {
    refreshCount_.fetch_add(1);
    const ModelChanges changes = TakeModelChanges(lastVersion_);
    lastVersion_ = changes.version;

    // A handle whose panel was discarded, or given to a different panel.
    std::vector<int> gone;
    const std::set<int> live(changes.livePanels.begin(), changes.livePanels.end());
    for (const auto& [handle, view] : panels_)
        if (!live.count(handle)) gone.push_back(handle);
    for (const PanelState& state : changes.panels) {
        const PanelView* view = FindPanel(state.handle);
        if (view && (view->state.name != state.name || view->state.parent != state.parent ||
                     view->state.pageIndex != state.pageIndex))
            gone.push_back(state.handle);
    }
    DiscardPanels(gone);

    // All new panels exist before any control is shown: a tab control finds
    // its pages' widgets whatever the order of the panels.
    for (const PanelState& state : changes.panels)
        if (!FindPanel(state.handle)) CreatePanel(state);
    for (const PanelState& state : changes.panels) ApplyPanel(*FindPanel(state.handle), state);

    std::map<int, const MenuBarState*> bars;
    for (const MenuBarState& bar : changes.menuBars) bars[bar.handle] = &bar;
    for (auto& [handle, view] : panels_) {
        if (view->isPage) continue;
        const auto found = bars.find(view->state.menuBar);
        const MenuBarState* bar = found == bars.end() ? nullptr : found->second;
        const int barHandle = bar ? bar->handle : 0;
        if (barHandle != view->menuBarHandle || (bar && bar->version != view->menuBarVersion))
            RebuildMenuBar(*view, bar);
    }

    // Windows appear last, complete.
    for (const PanelState& state : changes.panels) {
        PanelView& view = *FindPanel(state.handle);
        if (view.isPage || !view.window || view.window->isVisible() == state.visible) continue;
        const QScreen* screen = view.window->screen();
        const int barHeight = view.menuBar ? view.menuBar->sizeHint().height() : 0;
        const bool roomForIt = screen && screen->availableGeometry().width() >= state.minWidth &&
                               screen->availableGeometry().height() >= state.minHeight + barHeight;
        if (state.visible && state.resizable && state.maximized && roomForIt) {
            // Filling the screen also where no window manager maximises.
            view.window->setGeometry(screen->availableGeometry());
            view.window->showMaximized();
        } else
            view.window->setVisible(state.visible);
    }
}

QtFrontEnd::PanelView* QtFrontEnd::FindPanel(int panel) const {
    const auto found = panels_.find(panel);
    return found == panels_.end() ? nullptr : found->second.get();
}

void QtFrontEnd::CreatePanel(const PanelState& state) {
    auto view = std::make_unique<PanelView>();
    view->isPage = IsTabPage(state);
    if (view->isPage) {
        // Reparented into the tab control when that is shown.
        view->canvas = new QWidget;
        view->window = view->canvas;
    } else {
        auto* window = new qt::PanelWindow(state.handle);
        view->window = window;
        view->canvas = new QWidget(view->window);
        const int handle = state.handle;
        window->OnResize([this, handle] {
            if (PanelView* resized = FindPanel(handle)) FitCanvas(*resized);
        });
    }
    view->state = WithoutControls(state);
    panels_[state.handle] = std::move(view);
}

void QtFrontEnd::ApplyPanel(PanelView& view, const PanelState& state) {
    view.state = WithoutControls(state);
    if (!view.canvas) return;
    const qt::PageLookup pages = [this](int pagePanel) -> QWidget* {
        const PanelView* page = FindPanel(pagePanel);
        return page && page->isPage ? page->canvas.data() : nullptr;
    };
    for (const ControlState& control : state.controls) {
        auto& controlView = view.controls[control.id];
        if (controlView) {
            controlView->Apply(control);
        } else {
            controlView = qt::MakeControlView(state.handle, control, view.canvas, pages);
        }
    }
    view.canvas->setEnabled(!state.dimmed);
    if (!view.isPage) {
        view.window->setWindowTitle(ToQString(state.title.empty() ? state.name : state.title));
        LayOutWindow(view);
    }
}

void QtFrontEnd::LayOutWindow(PanelView& view) {
    const PanelState& state = view.state;
    const int barHeight = view.menuBar ? view.menuBar->sizeHint().height() : 0;
    const QSize size(state.width, state.height);
    if (!state.resizable) {
        view.window->setFixedSize(state.width, state.height + barHeight);
    } else if (size != view.appliedSize) {
        // The program's size, as far as the screen allows and no smaller
        // than the panel's smallest size.
        view.window->setMinimumSize(state.minWidth, state.minHeight + barHeight);
        view.window->setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
        QSize room(screenWidth_, screenHeight_);
        if (const QScreen* screen = view.window->screen())
            room = screen->availableGeometry().size();
        const int width = std::max(state.minWidth, std::min(state.width, room.width()));
        const int height = std::max(state.minHeight + barHeight,
                                    std::min(state.height + barHeight, room.height()));
        if (!view.window->isMaximized()) view.window->resize(width, height);
    }
    view.appliedSize = size;
    const QPoint place(state.left, state.top);
    if (place != view.appliedPlace && !view.window->isMaximized()) {
        view.appliedPlace = place;
        QPoint at = place;
        if (state.resizable) {
            // Whatever the program asks, the window's top-left corner stays
            // on the screen, so its title bar and menus can be reached.
            at.setX(std::clamp(at.x(), 0, std::max(0, screenWidth_ - view.window->width())));
            at.setY(std::clamp(at.y(), 0, std::max(0, screenHeight_ - view.window->height())));
        }
        view.window->move(at);
    }
    FitCanvas(view);
}

void QtFrontEnd::FitCanvas(PanelView& view) {
    if (!view.window || !view.canvas || view.isPage) return;
    const PanelState& state = view.state;
    const int barHeight = view.menuBar ? view.menuBar->sizeHint().height() : 0;
    // Never laid out below the smallest size: a window squeezed smaller
    // than that (a screen too small for it) cuts its controls off at the
    // edge instead of piling them on each other.
    const int width =
        state.resizable ? std::max(view.window->width(), state.minWidth) : state.width;
    const int height = state.resizable
                           ? std::max(view.window->height() - barHeight, state.minHeight)
                           : state.height;
    if (view.menuBar) view.menuBar->setGeometry(0, 0, width, barHeight);
    view.canvas->setGeometry(0, barHeight, width, height);
    const int dx = state.resizable ? width - state.width : 0;
    const int dy = state.resizable ? height - state.height : 0;
    for (auto& [id, control] : view.controls) control->SetStretch(dx, dy);
}

void QtFrontEnd::RebuildMenuBar(PanelView& view, const MenuBarState* bar) {
    delete view.menuBar.data();
    view.menuBarHandle = bar ? bar->handle : 0;
    view.menuBarVersion = bar ? bar->version : 0;
    if (bar) {
        auto* menuBar = new QMenuBar(view.window);
        menuBar->setNativeMenuBar(false);  // part of the window, also in screenshots
        const int barHandle = bar->handle;
        for (const MenuState& menu : bar->menus) {
            QMenu* qmenu = menuBar->addMenu(ToQString(menu.label));
            for (const MenuItemState& item : menu.items) {
                if (item.separator) {
                    qmenu->addSeparator();
                    continue;
                }
                QAction* action = qmenu->addAction(ToQString(item.label));
                if (!item.shortcut.empty())
                    action->setShortcut(QKeySequence(ToQString(item.shortcut)));
                action->setEnabled(!item.dimmed);
                action->setCheckable(item.checked);
                action->setChecked(item.checked);
                const int itemId = item.id;
                const bool checked = item.checked;
                connect(action, &QAction::triggered, action, [action, barHandle, itemId, checked] {
                    // The program decides the check mark; Qt must not flip it.
                    action->setChecked(checked);
                    PostMenuEvent(barHandle, itemId);
                });
            }
        }
        view.menuBar = menuBar;
        menuBar->show();
    }
    LayOutWindow(view);
}

void QtFrontEnd::DiscardPanels(const std::vector<int>& handles) {
    std::vector<std::unique_ptr<PanelView>> doomed;
    for (int handle : handles) {
        const auto found = panels_.find(handle);
        if (found == panels_.end()) continue;
        doomed.push_back(std::move(found->second));
        panels_.erase(found);
    }
    // Views first, then windows: a page's widget may sit in a doomed window.
    for (auto& view : doomed) view->controls.clear();
    for (auto& view : doomed) delete view->window.data();
}

// ---- test and benchmark access ---------------------------------------------------------

QWidget* QtFrontEnd::PanelWidget(int panel) const {
    const PanelView* view = FindPanel(panel);
    return view ? view->window.data() : nullptr;
}

QWidget* QtFrontEnd::ControlWidget(int panel, int control) const {
    const PanelView* view = FindPanel(panel);
    if (!view) return nullptr;
    const auto found = view->controls.find(control);
    return found == view->controls.end() ? nullptr : found->second->Widget();
}

QMenuBar* QtFrontEnd::PanelMenuBar(int panel) const {
    const PanelView* view = FindPanel(panel);
    return view ? view->menuBar.data() : nullptr;
}

// ---- calls from other threads ------------------------------------------------------------

bool QtFrontEnd::RunOnGui(const std::function<void()>& fn) {
    if (QThread::currentThread() == thread()) {
        fn();
        return true;
    }
    auto call = std::make_shared<GuiCall>();
    {
        const std::lock_guard lock(guiMutex_);
        if (guiClosed_) return false;
    }
    // Like a blocking queued call, except that closing the GUI releases the
    // caller instead of leaving it waiting for an event loop that is gone.
    QMetaObject::invokeMethod(
        this,
        [this, call, &fn] {
            {
                const std::lock_guard lock(guiMutex_);
                if (call->state == GuiCall::State::Abandoned) return;
                call->state = GuiCall::State::Running;
            }
            fn();
            {
                const std::lock_guard lock(guiMutex_);
                call->state = GuiCall::State::Done;
            }
            guiDone_.notify_all();
        },
        Qt::QueuedConnection);
    std::unique_lock lock(guiMutex_);
    guiDone_.wait(lock, [&] {
        return call->state == GuiCall::State::Done ||
               (guiClosed_ && call->state == GuiCall::State::Queued);
    });
    if (call->state == GuiCall::State::Done) return true;
    call->state = GuiCall::State::Abandoned;
    return false;
}

void QtFrontEnd::CloseGui() {
    {
        const std::lock_guard lock(guiMutex_);
        guiClosed_ = true;
    }
    guiDone_.notify_all();
}

QWidget* QtFrontEnd::DialogParent() const {
    return QApplication::activeWindow();
}

namespace {

// The programs title their error boxes "Error" and the end-of-run account
// of what went wrong "Run summary": those do not wear the information icon.
QMessageBox::Icon IconFor(const std::string& title) {
    if (title == "Error") return QMessageBox::Critical;
    if (title == "Run summary") return QMessageBox::Warning;
    return QMessageBox::Information;
}

}  // namespace

void QtFrontEnd::ShowMessage(const std::string& title, const std::string& text) {
    if (responder_) {
        responder_->ShowMessage(title, text);
        return;
    }
    RunOnGui([&] {
        QMessageBox box(IconFor(title), ToQString(title), ToQString(text), QMessageBox::Ok,
                        DialogParent());
        box.exec();
    });
}

void QtFrontEnd::ShowMessageWithoutWaiting(const std::string& title, const std::string& text) {
    if (responder_) {
        responder_->ShowMessage(title, text);
        return;
    }
    {
        const std::lock_guard lock(guiMutex_);
        if (guiClosed_) return;
    }
    QMetaObject::invokeMethod(
        this,
        [this, title, text] {
            auto* box = new QMessageBox(QMessageBox::Information, ToQString(title),
                                        ToQString(text), QMessageBox::Ok, DialogParent());
            box->setAttribute(Qt::WA_DeleteOnClose);
            box->setWindowModality(Qt::NonModal);
            box->show();
        },
        Qt::QueuedConnection);
}

bool QtFrontEnd::AskConfirm(const std::string& title, const std::string& text) {
    if (responder_) return responder_->AskConfirm(title, text);
    bool yes = false;
    RunOnGui([&] {
        QMessageBox box(QMessageBox::Question, ToQString(title), ToQString(text),
                        QMessageBox::Yes | QMessageBox::No, DialogParent());
        box.setDefaultButton(QMessageBox::Yes);
        yes = box.exec() == QMessageBox::Yes;
    });
    return yes;
}

std::optional<std::string> QtFrontEnd::AskFile(const FileRequest& request) {
    if (responder_) return responder_->AskFile(request);
    std::optional<std::string> path;
    RunOnGui([&] {
        QFileDialog dialog(DialogParent(), ToQString(request.title),
                           ToQString(request.defaultDirectory));
        dialog.setOption(QFileDialog::DontUseNativeDialog);
        if (request.folder) {
            dialog.setFileMode(QFileDialog::Directory);
            dialog.setOption(QFileDialog::ShowDirsOnly);
            if (dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty())
                path = dialog.selectedFiles().first().toStdString();
            return;
        }
        dialog.setAcceptMode(request.save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
        dialog.setFileMode(request.save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
        // "*.fts;*.bmp": one filter per pattern, and all files last.
        QStringList filters;
        for (const QString& pattern :
             ToQString(request.patternList).split(QLatin1Char(';'), Qt::SkipEmptyParts))
            filters << pattern.trimmed();
        const QString defaultPattern = ToQString(request.defaultPattern).trimmed();
        const bool wildcard =
            defaultPattern.contains(QLatin1Char('*')) || defaultPattern.contains(QLatin1Char('?'));
        if (wildcard && !filters.contains(defaultPattern)) filters.prepend(defaultPattern);
        if (!filters.contains(QStringLiteral("*"))) filters << QStringLiteral("*");
        dialog.setNameFilters(filters);
        if (wildcard) {
            dialog.selectNameFilter(defaultPattern);
        } else if (!defaultPattern.isEmpty()) {
            dialog.selectFile(defaultPattern);  // a file name to start from
        }
        if (dialog.exec() == QDialog::Accepted && !dialog.selectedFiles().isEmpty())
            path = dialog.selectedFiles().first().toStdString();
    });
    return path;
}

void QtFrontEnd::ScreenSize(int* height, int* width) {
    if (height) *height = screenHeight_;
    if (width) *width = screenWidth_;
}

bool QtFrontEnd::Screenshot(int panel, const std::string& pngPath, std::string* error) {
    std::string reason;
    const bool ran = RunOnGui([&] {
        Refresh();  // the picture shows the model as it is now
        const PanelView* view = FindPanel(panel);
        if (!view || !view->window) {
            reason = "panel " + std::to_string(panel) + " has no window";
            return;
        }
        const QPixmap pixmap = view->window->grab();
        if (pixmap.isNull()) {
            reason = "the window of panel " + std::to_string(panel) + " could not be drawn";
        } else if (!pixmap.save(ToQString(pngPath), "PNG")) {
            reason = "cannot write " + pngPath;
        }
    });
    if (!ran) reason = "the windows are closed";
    if (!reason.empty() && error) *error = reason;
    return reason.empty();
}

}  // namespace ui
