// The Qt 6 front-end: shows the run-time's panels as real windows on the
// process's main thread (the GUI thread) and turns what a person does into
// model changes and queued events for the dispatch thread. It runs no
// program logic, so the windows stay alive while a callback runs for minutes.
#pragma once

#include <QObject>
#include <QPointer>
#include <atomic>
#include <condition_variable>
#include <functional>
#include <map>
#include <memory>
#include <mutex>

#include "platform/ui/frontend.h"
#include "platform/ui/headless.h"

class QMenuBar;
class QWidget;

namespace ui {

namespace qt {
class ControlView;
}

class QtFrontEnd : public QObject, public FrontEnd {
    Q_OBJECT

  public:
    // Construct on the GUI thread, after the QApplication. With a script
    // responder, popups and file dialogs are answered by it (the script)
    // instead of a person.
    explicit QtFrontEnd(HeadlessFrontEnd* scriptResponder = nullptr);
    ~QtFrontEnd() override;

    // FrontEnd
    void ModelChanged() override;
    void ShowMessage(const std::string& title, const std::string& text) override;
    void ShowMessageWithoutWaiting(const std::string& title, const std::string& text) override;
    bool AskConfirm(const std::string& title, const std::string& text) override;
    std::optional<std::string> AskFile(const FileRequest& request) override;
    void ScreenSize(int* height, int* width) override;
    bool Screenshot(int panel, const std::string& pngPath, std::string* error) override;

    // GUI thread: takes the model's changes and brings the windows up to date.
    void Refresh();
    // The GUI loop has ended (any thread): popups asked from now on are
    // answered at once (OK / cancelled) and screenshots fail, so that no
    // thread waits for a window that will never answer.
    void CloseGui();

    // For tests and benchmarks (GUI thread).
    int RefreshCount() const { return refreshCount_.load(); }
    // The window of a panel (the page widget for a tab page), or nullptr.
    QWidget* PanelWidget(int panel) const;
    // The main widget of a control, or nullptr.
    QWidget* ControlWidget(int panel, int control) const;
    QMenuBar* PanelMenuBar(int panel) const;

  private:
    struct PanelView;

    // Runs `fn` on the GUI thread and waits for it. False when the GUI is
    // closed (then `fn` does not run).
    bool RunOnGui(const std::function<void()>& fn);
    PanelView* FindPanel(int panel) const;
    void CreatePanel(const PanelState& state);
    void ApplyPanel(PanelView& view, const PanelState& state);
    void RebuildMenuBar(PanelView& view, const MenuBarState* bar);
    void LayOutWindow(PanelView& view);
    // Places the menu bar and the canvas in the window and stretches the
    // controls by what the window differs from the panel's size.
    void FitCanvas(PanelView& view);
    void DiscardPanels(const std::vector<int>& livePanels);
    QWidget* DialogParent() const;

    HeadlessFrontEnd* const responder_;
    int screenHeight_ = 0;
    int screenWidth_ = 0;

    // GUI thread only.
    uint64_t lastVersion_ = 0;
    std::map<int, std::unique_ptr<PanelView>> panels_;
    std::atomic<int> refreshCount_{0};

    // Calls waiting for the GUI thread.
    struct GuiCall;
    std::mutex guiMutex_;
    std::condition_variable guiDone_;
    bool guiClosed_ = false;
};

}  // namespace ui
