#include "state/observing_log.h"

#include <chrono>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <mutex>

#include "platform/os/os.h"

namespace pelu {
namespace {

struct Log {
    std::mutex mutex;
    std::string folder;  // host folder; empty while closed
    std::string path;    // the file of `day`
    int day = 0;         // YYYYMMDD of the open file
    FILE* file = nullptr;
};

Log& TheLog() {
    static Log log;
    return log;
}

struct Stamp {
    int day = 0;
    char text[64] = {};
};

Stamp Now() {
    const auto now = std::chrono::system_clock::now();
    const auto micros =
        std::chrono::duration_cast<std::chrono::microseconds>(now.time_since_epoch()).count();
    const std::time_t seconds = static_cast<std::time_t>(micros / 1000000);
    std::tm utc{};
    gmtime_r(&seconds, &utc);
    Stamp stamp;
    stamp.day = (utc.tm_year + 1900) * 10000 + (utc.tm_mon + 1) * 100 + utc.tm_mday;
    std::snprintf(stamp.text, sizeof stamp.text, "%04d-%02d-%02dT%02d:%02d:%02d.%06lldZ",
                  utc.tm_year + 1900, utc.tm_mon + 1, utc.tm_mday, utc.tm_hour, utc.tm_min,
                  utc.tm_sec, static_cast<long long>(micros % 1000000));
    return stamp;
}

// The file of the stamp's day, opened (or reopened after midnight) on demand.
FILE* FileFor(Log& log, const Stamp& stamp) {
    if (log.folder.empty()) return nullptr;
    if (log.file != nullptr && log.day == stamp.day) return log.file;
    if (log.file != nullptr) std::fclose(log.file);
    char name[40];
    std::snprintf(name, sizeof name, "ObservingLog_%08d.txt", stamp.day);
    log.path = (std::filesystem::path(log.folder) / name).string();
    log.file = std::fopen(log.path.c_str(), "a");
    log.day = stamp.day;
    if (log.file == nullptr) {
        std::fprintf(stderr, "observing log: cannot write %s; logging stops\n", log.path.c_str());
        log.folder.clear();
        log.path.clear();
    }
    return log.file;
}

// One line per line of `text`; blank lines are left out.
void WriteLines(const char* kind, const std::string& text) {
    Log& log = TheLog();
    const Stamp stamp = Now();
    std::lock_guard lock(log.mutex);
    FILE* file = FileFor(log, stamp);
    if (file == nullptr) return;
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(start, end - start);
        while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.pop_back();
        if (!line.empty()) std::fprintf(file, "%s %s %s\n", stamp.text, kind, line.c_str());
        start = end + 1;
    }
    std::fflush(file);
}

std::string OneLine(std::string text) {
    for (char& c : text)
        if (c == '\r' || c == '\n') c = ' ';
    while (!text.empty() && text.back() == ' ') text.pop_back();
    return text;
}

}  // namespace

bool OpenObservingLog(const std::string& dataRoot) {
    const std::string folder = os::HostPath(dataRoot);
    std::error_code error;
    if (folder.empty() || (std::filesystem::create_directories(folder, error), error)) {
        std::fprintf(stderr, "observing log: cannot use the data folder %s%s%s\n", dataRoot.c_str(),
                     error ? ": " : "", error ? error.message().c_str() : "");
        return false;
    }
    Log& log = TheLog();
    std::lock_guard lock(log.mutex);
    if (log.file != nullptr) std::fclose(log.file);
    log.file = nullptr;
    log.folder = folder;
    log.day = 0;
    return true;
}

void CloseObservingLog() {
    Log& log = TheLog();
    std::lock_guard lock(log.mutex);
    if (log.file != nullptr) std::fclose(log.file);
    log.file = nullptr;
    log.folder.clear();
    log.path.clear();
}

std::string ObservingLogPath() {
    Log& log = TheLog();
    const Stamp stamp = Now();
    std::lock_guard lock(log.mutex);
    return FileFor(log, stamp) != nullptr ? log.path : std::string();
}

void LogStatusText(const std::string& text) { WriteLines("status ", text); }
void LogWarningText(const std::string& text) { WriteLines("WARNING", text); }

void LogControllerCommand(const char* device, const std::string& command,
                          const std::string& reply, bool answered) {
    WriteLines((std::string(device) + ">").c_str(),
               OneLine(command) + " -> " +
                   (answered ? "\"" + OneLine(reply) + "\"" : std::string("(no reply)")));
}

void LogControllerWrite(const char* device, const std::string& command) {
    WriteLines((std::string(device) + ">").c_str(), OneLine(command));
}

}  // namespace pelu
