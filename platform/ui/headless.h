// The headless front-end: no window, popups are recorded and answered from a
// queue instead of waiting for a person. Tests and scripted runs use it; the
// Qt front-end hands its popups to one while a script drives it.
#pragma once

#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/ui/frontend.h"

namespace ui {

struct PopupRecord {
    enum class Kind { Message, Confirm, File, Folder };
    Kind kind = Kind::Message;
    std::string title;
    std::string text;    // message text, the file request's pattern list, or the folder offered
    std::string answer;  // "ok", "yes"/"no", the chosen path or "" (cancelled)
};

class HeadlessFrontEnd : public FrontEnd {
public:
    void ModelChanged() override;
    void ShowMessage(const std::string& title, const std::string& text) override;
    bool AskConfirm(const std::string& title, const std::string& text) override;
    std::optional<std::string> AskFile(const FileRequest& request) override;
    void ScreenSize(int* height, int* width) override;
    bool Screenshot(int panel, const std::string& pngPath, std::string* error) override;

    // Answers for the next file or folder dialogs (nothing = cancel) and
    // confirmations, used in order. An unanswered file or folder dialog is
    // cancelled, an unanswered confirmation answered "yes".
    void QueueFileAnswer(std::optional<std::string> path);
    void QueueConfirmAnswer(bool yes);

    std::vector<PopupRecord> Popups() const;
    void ClearPopups();
    // Waits (real time) until more than `count` popups were recorded.
    bool WaitForPopupCount(size_t count, std::chrono::milliseconds timeout) const;
    // How many times the core said the model changed (coalesced).
    int ModelChangedCalls() const;

private:
    void Record(PopupRecord record);

    mutable std::mutex mutex_;
    mutable std::condition_variable popupAdded_;
    std::deque<std::optional<std::string>> fileAnswers_;
    std::deque<bool> confirmAnswers_;
    std::vector<PopupRecord> popups_;
    int modelChangedCalls_ = 0;
};

}  // namespace ui
