#include "state/frame_record.h"

#include <chrono>

namespace pelu {

void FrameLog::Start(int frames) {
    std::lock_guard<std::mutex> lock(mutex_);
    const size_t count = frames > 0 ? size_t(frames) : 0;
    slots_.assign(count, FrameRecord{});
    attempted_.assign(count, false);
}

void FrameLog::Add(const FrameRecord& record) {
    if (record.index < 0) return;
    std::lock_guard<std::mutex> lock(mutex_);
    const size_t index = size_t(record.index);
    if (index >= slots_.size()) {
        slots_.resize(index + 1);
        attempted_.resize(index + 1, false);
    }
    slots_[index] = record;
    attempted_[index] = true;
}

void FrameLog::SetEndPosition(int index, float position) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (index >= 0 && size_t(index) < slots_.size() && attempted_[size_t(index)])
        slots_[size_t(index)].positionEnded = position;
}

void FrameLog::SetLate(int index) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (index >= 0 && size_t(index) < slots_.size() && attempted_[size_t(index)])
        slots_[size_t(index)].late = true;
}

bool FrameLog::Record(int index, FrameRecord* record) const {
    std::lock_guard<std::mutex> lock(mutex_);
    if (index < 0 || size_t(index) >= slots_.size() || !attempted_[size_t(index)]) return false;
    *record = slots_[size_t(index)];
    return true;
}

std::vector<FrameRecord> FrameLog::Records() const {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<FrameRecord> records;
    for (size_t i = 0; i < slots_.size(); ++i)
        if (attempted_[i]) records.push_back(slots_[i]);
    return records;
}

int FrameLog::Stored(int frames) const {
    std::lock_guard<std::mutex> lock(mutex_);
    int stored = 0;
    for (size_t i = 0; i < slots_.size() && int(i) < frames; ++i)
        if (attempted_[i] && slots_[i].read) ++stored;
    return stored;
}

int64_t UtcMicroseconds() {
    using namespace std::chrono;
    return duration_cast<microseconds>(system_clock::now().time_since_epoch()).count();
}

}  // namespace pelu
