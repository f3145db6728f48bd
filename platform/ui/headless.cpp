#include "platform/ui/headless.h"

namespace ui {

void HeadlessFrontEnd::ModelChanged() {
    std::lock_guard lock(mutex_);
    ++modelChangedCalls_;
}

void HeadlessFrontEnd::Record(PopupRecord record) {
    {
        std::lock_guard lock(mutex_);
        popups_.push_back(std::move(record));
    }
    popupAdded_.notify_all();
}

void HeadlessFrontEnd::ShowMessage(const std::string& title, const std::string& text) {
    Record({PopupRecord::Kind::Message, title, text, "ok"});
}

bool HeadlessFrontEnd::AskConfirm(const std::string& title, const std::string& text) {
    bool yes = true;
    {
        std::lock_guard lock(mutex_);
        if (!confirmAnswers_.empty()) {
            yes = confirmAnswers_.front();
            confirmAnswers_.pop_front();
        }
    }
    Record({PopupRecord::Kind::Confirm, title, text, yes ? "yes" : "no"});
    return yes;
}

std::optional<std::string> HeadlessFrontEnd::AskFile(const FileRequest& request) {
    std::optional<std::string> answer;
    {
        std::lock_guard lock(mutex_);
        if (!fileAnswers_.empty()) {
            answer = fileAnswers_.front();
            fileAnswers_.pop_front();
        }
    }
    if (request.folder)
        Record({PopupRecord::Kind::Folder, request.title, request.defaultDirectory,
                answer.value_or("")});
    else
        Record({PopupRecord::Kind::File, request.title, request.patternList, answer.value_or("")});
    return answer;
}

void HeadlessFrontEnd::ScreenSize(int* height, int* width) {
    *height = 1080;
    *width = 1920;
}

bool HeadlessFrontEnd::Screenshot(int, const std::string&, std::string* error) {
    if (error) *error = "the headless front-end draws no pictures";
    return false;
}

void HeadlessFrontEnd::QueueFileAnswer(std::optional<std::string> path) {
    std::lock_guard lock(mutex_);
    fileAnswers_.push_back(std::move(path));
}

void HeadlessFrontEnd::QueueConfirmAnswer(bool yes) {
    std::lock_guard lock(mutex_);
    confirmAnswers_.push_back(yes);
}

std::vector<PopupRecord> HeadlessFrontEnd::Popups() const {
    std::lock_guard lock(mutex_);
    return popups_;
}

void HeadlessFrontEnd::ClearPopups() {
    std::lock_guard lock(mutex_);
    popups_.clear();
}

bool HeadlessFrontEnd::WaitForPopupCount(size_t count, std::chrono::milliseconds timeout) const {
    std::unique_lock lock(mutex_);
    return popupAdded_.wait_for(lock, timeout, [&] { return popups_.size() > count; });
}

int HeadlessFrontEnd::ModelChangedCalls() const {
    std::lock_guard lock(mutex_);
    return modelChangedCalls_;
}

}  // namespace ui
