// A device library bound through a table of its functions: the machinery
// that the camera SDK's and the motion controller's bindings share. The
// device's calls forward through Current(); while nothing is bound it is
// null and each call answers as its device does with no library.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/devices/device_library.h"

namespace devices {

template <typename Table>
class BoundLibrary {
  public:
    explicit BoundLibrary(Device device) : device_(device) {}
    BoundLibrary(const BoundLibrary&) = delete;
    BoundLibrary& operator=(const BoundLibrary&) = delete;

    // Loads the device's chosen library and binds a new table through the
    // entries that `entriesOf(table)` lists for it; a library lacking one of
    // them is refused whole. False: nothing is bound and *message says why.
    // A bound table is never changed or freed: a call on another thread
    // keeps the table it started with, and the library stays in the process.
    template <typename EntriesOf>
    bool Bind(EntriesOf&& entriesOf, std::string* message) {
        std::lock_guard<std::mutex> lock(mutex_);
        table_.store(nullptr, std::memory_order_release);
        auto table = std::make_unique<Table>();
        const std::vector<Entry> entries = entriesOf(table.get());
        if (!LoadLibrary(device_, entries, &library_, message)) return false;
        tables_.push_back(std::move(table));
        table_.store(tables_.back().get(), std::memory_order_release);
        return true;
    }

    void Release() {
        std::lock_guard<std::mutex> lock(mutex_);
        table_.store(nullptr, std::memory_order_release);
        ReleaseLibrary(&library_);
    }

    // The bound table, or null.
    const Table* Current() const { return table_.load(std::memory_order_acquire); }

    // "<Device> library: <file> (...)": the bound library, or the one Bind
    // would load.
    std::string Line() {
        std::lock_guard<std::mutex> lock(mutex_);
        return library_.handle != nullptr ? LibraryLine(device_, library_) : ChoiceLine(device_);
    }

  private:
    const Device device_;
    std::mutex mutex_;
    std::vector<std::unique_ptr<Table>> tables_;
    std::atomic<const Table*> table_{nullptr};
    LoadedLibrary library_;
};

// The simulator's control table in the library that `device` would load (a
// site's library only once the program has loaded it: looking must not load,
// and so start, a vendor's library), else in the simulator beside the
// programs: what the library's entry point `entryName` hands out. Null when
// no library at hand has that entry point.
void* SimulatorControlEntry(Device device, const char* entryName);
template <typename Control>
const Control* SimulatorControl(Device device, const char* entryName) {
    using ControlFn = const Control* (*)();
    void* entry = SimulatorControlEntry(device, entryName);
    return entry != nullptr ? reinterpret_cast<ControlFn>(entry)() : nullptr;
}

}  // namespace devices
