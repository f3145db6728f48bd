// The thread pool: thread functions, and the wait for their completion that
// keeps dispatching events on the dispatch thread.
#include <memory>
#include <mutex>
#include <thread>

#include "platform/ui/runtime_internal.h"

namespace ui {

using namespace core;

int ScheduleThreadFunction(ThreadFunction fn, int* functionId) {
    if (!fn) return UIE_BAD_ARGUMENT;
    auto entry = std::make_shared<PoolEntry>();
    int id;
    {
        std::lock_guard lock(R().poolMutex);
        id = R().nextFunctionId++;
        R().pool[id] = entry;
    }
    entry->thread = std::thread([entry, fn = std::move(fn)] {
        t_poolThread = true;
        int result = fn();
        std::lock_guard lock(R().queueMutex);
        entry->result = result;
        entry->done = true;
        R().queueChanged.notify_all();
    });
    if (functionId) *functionId = id;
    return 0;
}

namespace {

std::shared_ptr<PoolEntry> PoolEntryOf(int functionId) {
    std::lock_guard lock(R().poolMutex);
    auto it = R().pool.find(functionId);
    return it == R().pool.end() ? nullptr : it->second;
}

}  // namespace

int WaitForThreadFunctionCompletion(int functionId) {
    std::shared_ptr<PoolEntry> entry = PoolEntryOf(functionId);
    if (!entry) return UIE_BAD_THREAD_FUNCTION_ID;
    if (IsDispatchThread()) {
        DispatchUntil([&] { return entry->done; });
    } else {
        std::unique_lock lock(R().queueMutex);
        R().queueChanged.wait(lock, [&] { return entry->done; });
    }
    return 0;
}

int GetThreadFunctionReturnValue(int functionId, int* returnValue) {
    if (!returnValue) return UIE_BAD_ARGUMENT;
    std::shared_ptr<PoolEntry> entry = PoolEntryOf(functionId);
    if (!entry) return UIE_BAD_THREAD_FUNCTION_ID;
    std::lock_guard lock(R().queueMutex);
    if (!entry->done) return UIE_BAD_ARGUMENT;
    *returnValue = entry->result;
    return 0;
}

int ReleaseThreadFunctionID(int functionId) {
    std::shared_ptr<PoolEntry> entry;
    {
        std::lock_guard lock(R().poolMutex);
        auto it = R().pool.find(functionId);
        if (it == R().pool.end()) return UIE_BAD_THREAD_FUNCTION_ID;
        entry = it->second;
        R().pool.erase(it);
    }
    if (entry->thread.joinable()) entry->thread.join();
    return 0;
}

}  // namespace ui
