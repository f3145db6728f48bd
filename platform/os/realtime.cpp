#include "platform/os/realtime.h"

#include <pthread.h>
#include <sched.h>
#include <sys/mman.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace os {
namespace {

std::atomic<bool> g_refusedByTest{false};

// Why real time is not to be asked for at all, or "" when it may be.
std::string RefusedHere() {
    if (g_refusedByTest) return "refused for this test";
    const char* setting = std::getenv("PELU_REALTIME");
    if (setting != nullptr && std::strcmp(setting, "0") == 0)
        return "switched off by PELU_REALTIME=0";
    return "";
}

}  // namespace

RealTimeSection::RealTimeSection(int priority) {
    sched_param old{};
    if (pthread_getschedparam(pthread_self(), &oldPolicy_, &old) == 0)
        oldPriority_ = old.sched_priority;
    refusal_ = RefusedHere();
    if (!refusal_.empty()) return;
    sched_param wanted{};
    wanted.sched_priority = priority;
    const int error = pthread_setschedparam(pthread_self(), SCHED_FIFO, &wanted);
    granted_ = error == 0;
    if (!granted_) refusal_ = std::strerror(error);
}

RealTimeSection::~RealTimeSection() {
    if (!granted_) return;
    sched_param old{};
    old.sched_priority = oldPriority_;
    pthread_setschedparam(pthread_self(), oldPolicy_, &old);
}

std::string LockMemory(const void* data, size_t bytes) {
    if (data == nullptr || bytes == 0) return "";
    if (std::string refused = RefusedHere(); !refused.empty()) return refused;
    if (mlock(data, bytes) != 0) return std::strerror(errno);
    return "";
}

void UnlockMemory(const void* data, size_t bytes) {
    if (data != nullptr && bytes != 0) munlock(data, bytes);
}

void SetRealTimeRefused(bool refused) {
    g_refusedByTest = refused;
}

}  // namespace os
