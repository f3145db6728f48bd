// The conditions a benchmark ran under, and its verdicts. Every benchmark
// takes `--busy`: it then starts two CPU-bound processes beside itself for
// the whole run (the observing computer shared with other work), and says so
// in its first line with the load average. Each figure is printed with its
// target and "met" or "NOT met".
#pragma once

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

namespace bench {

// Removes `--busy` from the arguments; true when it was there.
inline bool TakeBusyFlag(int* argc, char** argv) {
    bool busy = false;
    int kept = 1;
    for (int i = 1; i < *argc; ++i) {
        if (std::strcmp(argv[i], "--busy") == 0)
            busy = true;
        else
            argv[kept++] = argv[i];
    }
    *argc = kept;
    argv[kept] = nullptr;
    return busy;
}

inline double LoadAverage() {
    std::ifstream in("/proc/loadavg");
    double load = -1;
    in >> load;
    return load;
}

// `count` processes that spin until the object goes away.
class BusyLoad {
  public:
    explicit BusyLoad(int count) {
        for (int i = 0; i < count; ++i) {
            const pid_t pid = fork();
            if (pid == 0) {
                // Spins until killed; the volatile store keeps the loop.
                volatile unsigned long n = 0;
                for (;;) n = n + 1;
            }
            if (pid > 0) children_.push_back(pid);
        }
    }
    ~BusyLoad() {
        for (pid_t pid : children_) kill(pid, SIGKILL);
        for (pid_t pid : children_) waitpid(pid, nullptr, 0);
    }
    BusyLoad(const BusyLoad&) = delete;
    BusyLoad& operator=(const BusyLoad&) = delete;

  private:
    std::vector<pid_t> children_;
};

// Prints the conditions line: which benchmark, quiet or busy, load average.
inline void PrintConditions(const char* name, bool busy) {
    std::printf("%s: %s, load average %.2f at the start\n", name,
                busy ? "busy (two CPU-bound processes beside it)"
                     : "quiet (nothing of its own beside it; other users of the machine may "
                       "load it)",
                LoadAverage());
    std::fflush(stdout);
}

inline const char* Verdict(bool met) {
    return met ? "met" : "NOT met";
}

}  // namespace bench
