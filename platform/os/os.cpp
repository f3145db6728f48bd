#include "platform/os/os.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <limits>
#include <mutex>
#include <sstream>
#include <thread>

namespace os {

namespace fs = std::filesystem;

namespace {

bool IsSpace(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\f' || c == '\v';
}

char ToUpper(char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}

bool IsDriveLetter(char c) {
    const char u = ToUpper(c);
    return u >= 'A' && u <= 'Z';
}

std::string Trim(const std::string& s) {
    size_t b = 0;
    size_t e = s.size();
    while (b < e && IsSpace(s[b])) ++b;
    while (e > b && IsSpace(s[e - 1])) --e;
    return s.substr(b, e - b);
}

std::string Lower(std::string s) {
    for (char& c : s) {
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return s;
}

}  // namespace

// ---- time scale -----------------------------------------------------------

double ParseTimeScale(const char* text, bool* valid) {
    if (valid) *valid = true;
    if (text == nullptr) return 1.0;
    const std::string s = Trim(text);
    if (s.empty()) return 1.0;

    // from_chars ignores the C locale, which a GUI toolkit may have switched
    // to one with a decimal comma.
    const char* first = s.data();
    const char* last = s.data() + s.size();
    if (*first == '+') ++first;
    double value = 0.0;
    const auto [end, ec] = std::from_chars(first, last, value);
    if (ec != std::errc() || end != last || !std::isfinite(value) || value <= 0.0) {
        if (valid) *valid = false;
        return 1.0;
    }
    return value;
}

namespace {

double EnvironmentTimeScale() {
    static const double scale = [] {
        const char* text = std::getenv("PELU_TIME_SCALE");
        bool valid = true;
        const double parsed = ParseTimeScale(text, &valid);
        if (!valid) {
            std::fprintf(
                stderr,
                "warning: PELU_TIME_SCALE=\"%s\" is not a positive number; using time scale 1\n",
                text);
        }
        return parsed;
    }();
    return scale;
}

// 0 means "no override".
std::atomic<double> g_scaleOverride{0.0};

}  // namespace

double TimeScale() {
    const double overridden = g_scaleOverride.load(std::memory_order_relaxed);
    return overridden > 0.0 ? overridden : EnvironmentTimeScale();
}

void SetTimeScale(double scale) {
    g_scaleOverride.store(std::isfinite(scale) && scale > 0.0 ? scale : 0.0,
                          std::memory_order_relaxed);
}

void Sleep(double milliseconds) {
    if (!(milliseconds > 0.0)) return;  // also NaN
    // Capped at ten years so the conversion to clock ticks cannot overflow.
    constexpr double kMaxSeconds = 10.0 * 365 * 24 * 3600;
    const double seconds = std::min(milliseconds / 1000.0 * TimeScale(), kMaxSeconds);
    const auto span = std::chrono::duration_cast<std::chrono::steady_clock::duration>(
        std::chrono::duration<double>(seconds));
    const auto deadline = std::chrono::steady_clock::now() + span;
    // sleep_for may return early on a signal: sleep the rest.
    for (auto now = std::chrono::steady_clock::now(); now < deadline;
         now = std::chrono::steady_clock::now()) {
        std::this_thread::sleep_for(deadline - now);
    }
}

void Delay(double seconds) {
    if (!(seconds > 0.0)) return;
    Sleep(seconds * 1000.0);
}

// ---- high-resolution counter ------------------------------------------------

// The counter counts real nanoseconds and the frequency absorbs the scale, so
// counts / frequency = real seconds / scale = instrument seconds.
bool QueryPerformanceFrequency(int64_t* frequency) {
    if (frequency == nullptr) return false;
    const double hz = 1e9 * TimeScale();
    constexpr double kMax = 9.0e18;  // below INT64_MAX, exactly representable
    *frequency = hz >= kMax ? static_cast<int64_t>(kMax) : std::max<int64_t>(1, std::llround(hz));
    return true;
}

bool QueryPerformanceCounter(int64_t* count) {
    if (count == nullptr) return false;
    *count = std::chrono::duration_cast<std::chrono::nanoseconds>(
                 std::chrono::steady_clock::now().time_since_epoch())
                 .count();
    return true;
}

// ---- calendar ---------------------------------------------------------------

UtcTime UtcNow() {
    using namespace std::chrono;
    const auto now = system_clock::now();
    const auto whole = floor<seconds>(now);
    const auto ms = duration_cast<milliseconds>(now - whole).count();
    const std::time_t t = system_clock::to_time_t(whole);
    std::tm tm{};
    UtcTime utc;
    if (gmtime_r(&t, &tm) == nullptr) return utc;
    utc.year = tm.tm_year + 1900;
    utc.month = tm.tm_mon + 1;
    utc.day = tm.tm_mday;
    utc.hour = tm.tm_hour;
    utc.minute = tm.tm_min;
    utc.second = tm.tm_sec;
    utc.millisecond = static_cast<int>(ms);
    return utc;
}

// ---- logical paths ------------------------------------------------------------

namespace {

std::mutex g_driveMutex;
std::array<std::string, 26> g_driveOverride;  // guarded by g_driveMutex

// Appends the components of `rest` (either separator) to `base`, resolving
// "." and "..". Returns "" when a ".." would leave `base`.
std::string JoinBelow(std::string base, const std::string& rest) {
    if (base.empty()) return "";
    while (base.size() > 1 && base.back() == '/') base.pop_back();

    std::vector<std::string> parts;
    size_t i = 0;
    while (i <= rest.size()) {
        size_t j = i;
        while (j < rest.size() && rest[j] != '/' && rest[j] != '\\') ++j;
        const std::string part = rest.substr(i, j - i);
        if (part == "..") {
            if (parts.empty()) return "";
            parts.pop_back();
        } else if (!part.empty() && part != ".") {
            parts.push_back(part);
        }
        i = j + 1;
    }

    std::string out = base;
    for (const std::string& part : parts) {
        if (out.back() != '/') out += '/';
        out += part;
    }
    return out;
}

}  // namespace

std::string WorkingDirectory() {
    std::error_code ec;
    const fs::path cwd = fs::current_path(ec);
    return ec ? std::string() : cwd.string();
}

std::string ExecutableDirectory() {
    std::error_code ec;
    const fs::path exe = fs::read_symlink("/proc/self/exe", ec);
    return ec ? std::string() : exe.parent_path().string();
}

std::string DriveFolder(char letter) {
    if (!IsDriveLetter(letter)) return "";
    const char upper = ToUpper(letter);
    {
        std::lock_guard<std::mutex> lock(g_driveMutex);
        const std::string& overridden = g_driveOverride[static_cast<size_t>(upper - 'A')];
        if (!overridden.empty()) return overridden;
    }
    const std::string variable = std::string("PELU_DRIVE_") + upper;
    if (const char* env = std::getenv(variable.c_str()); env != nullptr && *env != '\0') return env;
    const std::string cwd = WorkingDirectory();
    if (cwd.empty()) return "";
    return JoinBelow(cwd, std::string("drive_") + upper);
}

void SetDriveFolder(char letter, const std::string& hostFolder) {
    if (!IsDriveLetter(letter)) return;
    std::lock_guard<std::mutex> lock(g_driveMutex);
    g_driveOverride[static_cast<size_t>(ToUpper(letter) - 'A')] = hostFolder;
}

std::string HostPath(const std::string& logicalPath) {
    if (logicalPath.empty()) return "";
    // "X:..." (with or without a separator after the colon) is on drive X.
    if (logicalPath.size() >= 2 && logicalPath[1] == ':' && IsDriveLetter(logicalPath[0])) {
        return JoinBelow(DriveFolder(logicalPath[0]), logicalPath.substr(2));
    }
    // A rooted path without a drive is taken as a host path; the programs
    // never write "\..." for the current drive.
    if (logicalPath[0] == '/' || logicalPath[0] == '\\') return JoinBelow("/", logicalPath);
    return JoinBelow(WorkingDirectory(), logicalPath);
}

bool MakeDirectories(const std::string& logicalPath) {
    const std::string host = HostPath(logicalPath);
    if (host.empty()) return false;
    std::error_code ec;
    fs::create_directories(host, ec);
    // An existing folder is success; a file in the way is not.
    return fs::is_directory(host, ec);
}

// ---- batch files --------------------------------------------------------------

namespace {

std::mutex g_batchMutex;
std::vector<BatchCommand> g_batchRecord;  // guarded by g_batchMutex

// Splits the arguments of a command the way the command interpreter does:
// blanks separate them, double quotes group and are removed, redirections
// ("2>nul", "> log", "<in") are dropped. Returns false for what we do not
// carry out: pipes and command chains.
bool SplitArguments(const std::string& text, std::vector<std::string>* args) {
    size_t i = 0;
    const size_t n = text.size();
    while (true) {
        while (i < n && IsSpace(text[i])) ++i;
        if (i >= n) return true;
        const char c = text[i];
        if (c == '|' || c == '&') return false;

        bool redirection = false;
        if (c == '<' || c == '>') {
            redirection = true;
        } else if (c >= '0' && c <= '9' && i + 1 < n && text[i + 1] == '>') {
            redirection = true;
            ++i;
        }
        if (redirection) {
            ++i;
            if (i < n && text[i] == '>') ++i;  // ">>"
            if (i < n && text[i] == '&') {     // "2>&1"
                ++i;
                while (i < n && text[i] >= '0' && text[i] <= '9') ++i;
                continue;
            }
            while (i < n && IsSpace(text[i])) ++i;
            // fall through: the next word is the target and is discarded
        }

        std::string word;
        bool quoted = false;
        while (i < n) {
            const char d = text[i];
            if (d == '"') {
                quoted = !quoted;
                ++i;
                continue;
            }
            if (!quoted && (IsSpace(d) || d == '<' || d == '>' || d == '|' || d == '&')) break;
            word += d;
            ++i;
        }
        if (!redirection) args->push_back(word);
    }
}

// Carries out one line of a batch file; returns false when it is a comment
// or blank and so leaves no record.
bool RunBatchLine(const std::string& line, bool* executed) {
    *executed = false;
    std::string text = Trim(line);
    if (text.empty() || text.rfind("::", 0) == 0) return false;
    if (text[0] == '@') text = Trim(text.substr(1));  // "@" only hides the echo
    if (text.empty()) return false;

    size_t wordEnd = 0;
    while (wordEnd < text.size() && !IsSpace(text[wordEnd])) ++wordEnd;
    const std::string word = Lower(text.substr(0, wordEnd));
    const std::string rest = text.substr(wordEnd);

    if (word == "rem") return false;
    if (word == "arp") return true;  // address tables are the host's business
    if (word == "mkdir" || word == "md") {
        std::vector<std::string> paths;
        if (!SplitArguments(rest, &paths) || paths.empty()) return true;
        bool all = true;
        for (const std::string& path : paths) all = MakeDirectories(path) && all;
        *executed = all;
        return true;
    }
    return true;
}

}  // namespace

bool LaunchBatchFile(const std::string& logicalPath) {
    const std::string host = HostPath(logicalPath);
    if (host.empty()) return false;
    std::error_code ec;
    if (!fs::is_regular_file(host, ec)) return false;
    std::ifstream in(host, std::ios::binary);
    if (!in) return false;
    // Read it all before running anything: a read error leaves nothing done.
    std::ostringstream content;
    content << in.rdbuf();
    if (in.bad()) return false;

    std::vector<BatchCommand> launched;
    std::istringstream lines(content.str());
    std::string line;
    bool first = true;
    while (std::getline(lines, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (first && line.rfind("\xEF\xBB\xBF", 0) == 0) line.erase(0, 3);  // UTF-8 mark
        first = false;
        bool executed = false;
        if (RunBatchLine(line, &executed))
            launched.push_back(BatchCommand{logicalPath, line, executed});
    }

    // One file's commands stay together in the record.
    std::lock_guard<std::mutex> lock(g_batchMutex);
    g_batchRecord.insert(g_batchRecord.end(), launched.begin(), launched.end());
    return true;
}

std::vector<BatchCommand> LaunchedBatchCommands() {
    std::lock_guard<std::mutex> lock(g_batchMutex);
    return g_batchRecord;
}

void ClearLaunchedBatchCommands() {
    std::lock_guard<std::mutex> lock(g_batchMutex);
    g_batchRecord.clear();
}

}  // namespace os
