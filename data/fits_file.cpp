#include "data/fits_file.h"

#include <atomic>
#include <bit>
#if defined(__SSE2__)
#include <emmintrin.h>
#endif
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include "platform/os/beside.h"
#include "state/status.h"

// Not in fitsio.h, but exported by every CFITSIO: writes bytes at the current
// position of the file as they are. The 16-bit images go through it so that
// the byte order is changed once, in place, instead of through CFITSIO's
// small conversion buffer.
extern "C" int ffpbyt(fitsfile* fptr, LONGLONG nbytes, void* buffer, int* status);

namespace pelu {
namespace {

constexpr int kMaxSuffix = 999;
// ffmbyt may move to the end of the file being written (fitsio2.h's kIgnoreEndOfFile).
constexpr int kIgnoreEndOfFile = 1;

// Header text must be printable ASCII; anything else (an accented observer
// name, a tab) would make the header invalid.
std::string HeaderText(const std::string& text) {
    std::string clean = text;
    for (char& c : clean)
        if (static_cast<unsigned char>(c) < 32 || static_cast<unsigned char>(c) > 126) c = '?';
    return clean;
}

// Copies `count` words into `out` with their bytes swapped. Eight words per
// step where SSE2 is there (every x86-64): the copy runs at memory speed
// instead of one word at a time.
void SwapCopy(const uint16_t* in, uint16_t* out, size_t count) {
    size_t i = 0;
#if defined(__SSE2__)
    for (; i + 8 <= count; i += 8) {
        __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + i));
        v = _mm_or_si128(_mm_slli_epi16(v, 8), _mm_srli_epi16(v, 8));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), v);
    }
#endif
    for (; i < count; ++i) out[i] = static_cast<uint16_t>((in[i] >> 8) | (in[i] << 8));
}

// Words swapped and written per step: large enough that CFITSIO writes the
// chunk straight to the file in few calls, small enough to stay in the
// processor's own cache between the swap and the write.
constexpr size_t kWriteChunkWords = 256 * 1024;

// Chunks swapped ahead of the one being written.
constexpr size_t kChunksAhead = 3;

// The scratch buffers the words are swapped into: made once per writing
// thread, not cleared (every word is written before it is read).
struct WriteChunks {
    std::unique_ptr<uint16_t[]> words[kChunksAhead + 1];
    WriteChunks() {
        for (auto& chunk : words) chunk.reset(new uint16_t[kWriteChunkWords]);
    }
};

// The words of an image swapped chunk by chunk by two threads: the one that
// writes, and a helper beside it. Chunks are claimed in order by whichever
// thread is free; the writer swaps the next chunk itself when the helper has
// not claimed it, so a helper that gets no processor (a busy computer) costs
// nothing, and one that does hides the swapping behind the writing.
class SwapPipeline {
  public:
    SwapPipeline(const uint16_t* data, size_t count, WriteChunks& chunks)
        : data_(data),
          count_(count),
          chunks_(chunks),
          total_((count + kWriteChunkWords - 1) / kWriteChunkWords),
          swapped_(total_, false) {}
    size_t Chunks() const { return total_; }
    size_t Words(size_t k) const {
        return std::min(kWriteChunkWords, count_ - k * kWriteChunkWords);
    }

    // The helper: claims and swaps chunks until there are none or Stop().
    void Help() {
        for (;;) {
            size_t k = next_.load();
            {
                std::unique_lock lock(mutex_);
                changed_.wait(
                    lock, [&] { return stopped_ || k >= total_ || k < written_ + kChunksAhead; });
                if (stopped_ || k >= total_) return;
            }
            if (next_.compare_exchange_strong(k, k + 1)) Swap(k);
        }
    }
    // The writer: chunk k swapped, by the helper or here. False after Stop().
    uint16_t* Ready(size_t k) {
        size_t unclaimed = k;
        if (next_.compare_exchange_strong(unclaimed, k + 1)) {
            Swap(k);
        } else {
            std::unique_lock lock(mutex_);
            changed_.wait(lock, [&] { return stopped_ || swapped_[k]; });
        }
        return chunks_.words[k % (kChunksAhead + 1)].get();
    }
    void Written(size_t k) {
        {
            std::lock_guard lock(mutex_);
            written_ = k + 1;
        }
        changed_.notify_all();
    }
    void Stop() {
        {
            std::lock_guard lock(mutex_);
            stopped_ = true;
        }
        changed_.notify_all();
    }

  private:
    void Swap(size_t k) {
        SwapCopy(data_ + k * kWriteChunkWords, chunks_.words[k % (kChunksAhead + 1)].get(),
                 Words(k));
        {
            std::lock_guard lock(mutex_);
            swapped_[k] = true;
        }
        changed_.notify_all();
    }

    const uint16_t* data_;
    size_t count_;
    WriteChunks& chunks_;
    size_t total_;
    std::atomic<size_t> next_{0};  // the next chunk nobody has claimed
    std::mutex mutex_;
    std::condition_variable changed_;
    std::vector<bool> swapped_;
    size_t written_ = 0;
    bool stopped_ = false;
};

// Bytes written between two requests to start writing them to the disk.
constexpr LONGLONG kWriteBehindBytes = 8 << 20;

// Starts the disk writing of what was written of a file so far while the
// rest is still being written ("write-behind"), so that the flush that
// completes the file has little left to wait for. Only a hint: nothing is
// reported when the system does not take it.
class WriteBehind {
  public:
    explicit WriteBehind(const std::string& path)
        : fd_(path.empty() ? -1 : ::open(path.c_str(), O_RDONLY | O_CLOEXEC)) {}
    ~WriteBehind() {
        if (fd_ >= 0) ::close(fd_);
    }
    WriteBehind(const WriteBehind&) = delete;
    WriteBehind& operator=(const WriteBehind&) = delete;
    // The file holds its bytes up to `end` now.
    void WrittenUpTo(LONGLONG end) {
        if (fd_ < 0 || end - started_ < kWriteBehindBytes) return;
        ::sync_file_range(fd_, started_, end - started_, SYNC_FILE_RANGE_WRITE);
        started_ = end;
    }

  private:
    int fd_;
    LONGLONG started_ = 0;
};

// Flushes a file or folder to the disk. False, with the reason, when it cannot.
bool SyncFile(const std::string& path, std::string* error) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        *error = std::strerror(errno);
        return false;
    }
    const bool synced = ::fsync(fd) == 0;
    if (!synced) *error = std::strerror(errno);
    ::close(fd);
    return synced;
}

// CFITSIO's text for a status and the first message of its stack.
std::string CfitsioMessage(int status) {
    char text[FLEN_STATUS] = {};
    ffgerr(status, text);
    std::string message = text;
    char detail[FLEN_ERRMSG] = {};
    if (ffgmsg(detail) && detail[0]) message += std::string(": ") + detail;
    ffcmsg();
    return message;
}

}  // namespace

std::string ProductFileName(const os::UtcTime& t, char camera, const std::string& kind) {
    return Format("PELU_%.2d%.2d%.2d_%.2d%.2d%.2d_%c", t.year, t.month, t.day, t.hour, t.minute,
                  t.second, camera) +
           kind + ".fts";
}

std::string FreeFileName(const std::string& hostFolder, const std::string& name) {
    namespace fs = std::filesystem;
    std::error_code ec;
    if (!fs::exists(fs::path(hostFolder) / name, ec)) return name;
    const std::string stem = name.substr(0, name.rfind(".fts"));
    for (int n = 1; n <= kMaxSuffix; ++n) {
        std::string candidate = stem + Format("_%d", n) + ".fts";
        if (!fs::exists(fs::path(hostFolder) / candidate, ec)) return candidate;
    }
    return "";
}

FitsOutput::~FitsOutput() {
    // A file never closed through Close() is not known to be complete.
    if (fptr_) {
        int status = 0;
        ffclos(fptr_, &status);
        fptr_ = nullptr;
    }
    DropReservation();
}

void FitsOutput::Report(int status, const std::string& what) {
    failed_ = true;
    // The save's owner counts the failed file; these lines say why.
    ShowWarning(Warning::Save,
                Format("\nFITS file %s: %s failed, CFITSIO error %d (%s)\n", logicalPath_.c_str(),
                       what.c_str(), status, CfitsioMessage(status).c_str()),
                0);
}

void FitsOutput::Fail(const std::string& text) {
    failed_ = true;
    ShowWarning(Warning::Save, "\nFITS file " + logicalPath_ + " " + text + "\n", 0);
}

bool FitsOutput::Create(const std::string& directory, const std::string& name) {
    logicalPath_ = directory + "\\" + name;
    const std::string hostFolder = os::HostPath(directory);
    if (hostFolder.empty()) {
        Fail("not written: the folder is outside the data disk");
        return false;
    }
    // The free name is taken by creating it exclusively: another program
    // saving in the same second cannot take it between the check and the
    // creation, and when it took it just before, the next suffix is tried.
    std::string free;
    for (int attempt = 0; attempt <= kMaxSuffix + 1; ++attempt) {
        free = FreeFileName(hostFolder, name);
        if (free.empty()) break;
        const std::string candidate = (std::filesystem::path(hostFolder) / free).string();
        const int fd = ::open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        if (fd >= 0) {
            ::close(fd);
            reservedHostPath_ = candidate;
            break;
        }
        if (errno != EEXIST) {
            // A missing or unwritable folder, a full disk: nothing can be saved there.
            Fail(Format("not written: it cannot be created in %s (%s)", hostFolder.c_str(),
                        std::strerror(errno)));
            return false;
        }
        free.clear();
    }
    if (free.empty()) {
        Fail("not written: every name of that second is taken");
        return false;
    }
    if (free != name) {
        ShowStatus(Format("\n%s exists already: this series is written as %s\n",
                          logicalPath_.c_str(), free.c_str()));
        logicalPath_ = directory + "\\" + free;
    }
    // The disk-file variant takes the name literally: CFITSIO's extended
    // syntax ("[...]", "!") has no meaning in our folder and file names.
    // CFITSIO creates only files that do not exist: it writes under a
    // temporary name beside the reserved (empty) file, which the finished
    // file replaces once it is on the disk.
    const std::string hostPath =
        (std::filesystem::path(hostFolder) / ("." + free + ".part")).string();
    ::unlink(hostPath.c_str());  // left by a save that broke off; the name is ours
    writingHostPath_ = hostPath;
    status_ = 0;
    if (ffdkinit(&fptr_, hostPath.c_str(), &status_)) {
        Report(status_, "creating the file");
        fptr_ = nullptr;
        DropReservation();
        return false;
    }
    return true;
}

// Puts the finished file `from` in the place of the reserved (empty) file
// `to`. The two are exchanged and the reservation removed where the file
// system can exchange: replacing a file by rename makes ext4 allocate and
// start writing the new file's blocks at once (its guard for programs that
// rewrite a file without syncing it), which costs a large series several
// milliseconds. Elsewhere it is a plain rename.
int ReplaceReservation(const char* from, const char* to) {
    if (::renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_EXCHANGE) == 0) {
        ::unlink(from);  // the empty reservation, now under the writing name
        return 0;
    }
    return ::rename(from, to);
}

void FitsOutput::MoveIntoPlace() {
    if (writingHostPath_.empty()) return;
    std::string error;
    if (!SyncFile(writingHostPath_, &error)) {
        Fail("not written: it could not be flushed to the disk (" + error + ")");
        DropReservation();
        return;
    }
    if (ReplaceReservation(writingHostPath_.c_str(), reservedHostPath_.c_str()) != 0) {
        Fail(Format("not written: the finished file could not take its name (%s)",
                    std::strerror(errno)));
        DropReservation();
        return;
    }
    writingHostPath_.clear();
    // The new name is on the disk only once its folder is.
    if (!SyncFile(std::filesystem::path(reservedHostPath_).parent_path().string(), &error))
        ShowWarning(Warning::Save,
                    "\nFITS file " + logicalPath_ +
                        " is written, but its folder could not be flushed to the disk (" + error +
                        ")\n",
                    0);
    reservedHostPath_.clear();
}

void FitsOutput::DropReservation() {
    if (!reservedHostPath_.empty()) ::unlink(reservedHostPath_.c_str());
    if (!writingHostPath_.empty()) ::unlink(writingHostPath_.c_str());
    reservedHostPath_.clear();
    writingHostPath_.clear();
}

void FitsOutput::CreateImage(int bitpix, int naxis1, int naxis2, int naxis3) {
    if (!fptr_) return;
    long axes[3] = {naxis1, naxis2, naxis3};
    if (ffcrim(fptr_, bitpix, naxis3 == 1 ? 2 : 3, axes, &status_))
        Report(status_, "creating the image");
}

void FitsOutput::CardStatus(int status, const char* key) {
    if (status) Report(status, Format("writing the %s card", key));
}

void FitsOutput::Date() {
    if (!ok()) return;
    int status = 0;
    ffpdat(fptr_, &status);
    CardStatus(status, "DATE");
}

void FitsOutput::Float(const char* key, float value, const char* comment) {
    if (!ok()) return;
    int status = 0;
    ffpky(fptr_, TFLOAT, key, &value, comment, &status);
    CardStatus(status, key);
}

void FitsOutput::Unsigned(const char* key, unsigned value, const char* comment) {
    if (!ok()) return;
    int status = 0;
    ffpky(fptr_, TUINT, key, &value, comment, &status);
    CardStatus(status, key);
}

void FitsOutput::Int(const char* key, int value, const char* comment) {
    if (!ok()) return;
    int status = 0;
    ffpky(fptr_, TINT, key, &value, comment, &status);
    CardStatus(status, key);
}

void FitsOutput::String(const char* key, const std::string& value, const char* comment) {
    if (!ok()) return;
    int status = 0;
    ffpkys(fptr_, key, HeaderText(value).c_str(), comment, &status);
    CardStatus(status, key);
}

void FitsOutput::Comment(const std::string& text) {
    if (!ok()) return;
    int status = 0;
    ffpcom(fptr_, HeaderText(text).c_str(), &status);
    CardStatus(status, "COMMENT");
}

void FitsOutput::Delete(const char* key) {
    if (!ok()) return;
    int status = 0;
    ffdkey(fptr_, key, &status);
    CardStatus(status, key);
}

void FitsOutput::Words(const uint16_t* data, size_t count) {
    if (!ok()) return;
    // The header is complete: fix it, then write the data unit from its start.
    LONGLONG headStart = 0, dataStart = 0, dataEnd = 0;
    if (ffrdef(fptr_, &status_) || ffghadll(fptr_, &headStart, &dataStart, &dataEnd, &status_) ||
        ffmbyt(fptr_, dataStart, kIgnoreEndOfFile, &status_)) {
        Report(status_, "placing the image data");
        return;
    }
    if (dataEnd - dataStart < static_cast<LONGLONG>(count * sizeof(uint16_t))) {
        Fail("not written: the image holds fewer pixels than given");
        return;
    }
    if constexpr (std::endian::native == std::endian::big) {
        ffpbyt(fptr_, static_cast<LONGLONG>(count * sizeof(uint16_t)),
               const_cast<uint16_t*>(data), &status_);
    } else {
        // FITS data are big-endian. The caller's buffer is left as it is
        // (a display may be reading it): each chunk is swapped into a
        // scratch buffer and written from there.
        // The swapping runs beside the writing, chunks ahead: the file
        // takes the bytes at the pace of a plain write.
        thread_local WriteChunks ofThisThread;
        SwapPipeline pipeline(data, count, ofThisThread);
        // An image of a few chunks is swapped by the writer alone: a thread
        // of its own would cost more than it saves.
        std::optional<os::Beside> helper;
        if (pipeline.Chunks() > kChunksAhead) helper.emplace([&] { pipeline.Help(); });
        WriteBehind toDisk(writingHostPath_);
        LONGLONG end = dataStart;
        for (size_t k = 0; k < pipeline.Chunks() && status_ == 0; ++k) {
            uint16_t* chunk = pipeline.Ready(k);
            const LONGLONG bytes = static_cast<LONGLONG>(pipeline.Words(k) * sizeof(uint16_t));
            ffpbyt(fptr_, bytes, chunk, &status_);
            pipeline.Written(k);
            end += bytes;
            toDisk.WrittenUpTo(end);
        }
        pipeline.Stop();
        if (helper) helper->Join();
    }
    if (status_) Report(status_, "writing the image data");
}

void FitsOutput::Floats(const float* data, size_t count) {
    if (!ok()) return;
    long first[3] = {1, 1, 1};
    // CFITSIO only reads the array (its byte order is restored after the write).
    if (ffppx(fptr_, TFLOAT, first, static_cast<LONGLONG>(count), const_cast<float*>(data), &status_))
        Report(status_, "writing the image data");
}

void FitsOutput::Table(const char* extname, const std::vector<Column>& columns, long rows,
                       const std::function<int(fitsfile*)>& write) {
    if (!ok()) return;
    std::vector<char*> names, forms, units;
    for (const Column& c : columns) {
        names.push_back(const_cast<char*>(c.name));
        forms.push_back(const_cast<char*>(c.form));
        units.push_back(const_cast<char*>(c.unit));
    }
    if (ffcrtb(fptr_, BINARY_TBL, rows, int(columns.size()), names.data(), forms.data(),
               units.data(), extname, &status_)) {
        Report(status_, "creating the frame table");
        return;
    }
    status_ = write(fptr_);
    if (status_) Report(status_, "writing the frame table");
}

bool FitsOutput::Close() {
    if (fptr_) {
        if (status_) {
            // CFITSIO skips everything after a failure, its own close included;
            // the file is closed with a fresh status so the handle is released.
            int status = 0;
            ffclos(fptr_, &status);
        } else if (ffclos(fptr_, &status_)) {
            Report(status_, "closing the file");
        }
        fptr_ = nullptr;
        // A file that failed anywhere is not given its name: nothing that
        // looks finished may be incomplete. Its data are still with the caller.
        if (failed_)
            DropReservation();
        else
            MoveIntoPlace();
    }
    return !failed_;
}

}  // namespace pelu
