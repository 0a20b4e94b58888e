#include "cli/SampleTarget.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>

#ifdef _WIN32
#include <io.h>
#include <share.h>
#include <windows.h>
#else
#include <unistd.h>
#endif

#include "measure/CsvFile.h"
#include "res/StringTable.h"

namespace {

constexpr char kStandardOutputName[] = "standard output";

enum class PathKind {
    Missing,       // nothing there
    DanglingLink,  // a symbolic link to nothing: writing creates its target
    Regular,       // a regular file, perhaps behind a symbolic link
    Other,         // a FIFO, a device, a socket, a folder
};

std::error_code LastError() {
    return std::error_code(errno, std::generic_category());
}

#ifdef _WIN32

PathKind KindOf(const std::string& path) {
    struct _stat64 status {};
    if (_wstat64(csv_platform::WidePath(path).c_str(), &status) != 0) {
        return PathKind::Missing;
    }
    return (status.st_mode & _S_IFMT) == _S_IFREG ? PathKind::Regular : PathKind::Other;
}

bool IsStandardOutputFile(const std::string&) {
    return false;
}

int OpenPath(const std::string& path, int flags) {
    int descriptor = -1;
    _wsopen_s(&descriptor, csv_platform::WidePath(path).c_str(), flags | _O_BINARY | _O_NOINHERIT,
              _SH_DENYWR, _S_IREAD | _S_IWRITE);
    return descriptor;
}

constexpr int kWrite = _O_WRONLY;
constexpr int kReadWrite = _O_RDWR;
constexpr int kAppend = _O_APPEND;
constexpr int kCreate = _O_CREAT;
constexpr int kExclusive = _O_EXCL;
constexpr int kTruncate = _O_TRUNC;

std::int64_t SizeOf(int descriptor) {
    return _filelengthi64(descriptor);
}
bool CutTo(int descriptor, std::uint64_t size) {
    return _chsize_s(descriptor, static_cast<__int64>(size)) == 0;
}
long ReadAt(int descriptor, char* buffer, std::size_t size, std::uint64_t offset) {
    if (_lseeki64(descriptor, static_cast<__int64>(offset), SEEK_SET) < 0) {
        return -1;
    }
    return _read(descriptor, buffer, static_cast<unsigned>(size));
}
int CloseDescriptor(int descriptor) {
    return _close(descriptor);
}

#else

PathKind KindOf(const std::string& path) {
    struct stat status {};
    if (stat(path.c_str(), &status) == 0) {
        return S_ISREG(status.st_mode) ? PathKind::Regular : PathKind::Other;
    }
    struct stat link {};
    return lstat(path.c_str(), &link) == 0 && S_ISLNK(link.st_mode) ? PathKind::DanglingLink
                                                                    : PathKind::Missing;
}

bool IsStandardOutputFile(const std::string& path) {
    struct stat named {};
    struct stat output {};
    return stat(path.c_str(), &named) == 0 && fstat(1, &output) == 0 &&
           named.st_dev == output.st_dev && named.st_ino == output.st_ino;
}

int OpenPath(const std::string& path, int flags) {
    return ::open(path.c_str(), flags | O_CLOEXEC, 0666);
}

constexpr int kWrite = O_WRONLY;
constexpr int kReadWrite = O_RDWR;
constexpr int kAppend = O_APPEND;
constexpr int kCreate = O_CREAT;
constexpr int kExclusive = O_EXCL;
constexpr int kTruncate = O_TRUNC;

std::int64_t SizeOf(int descriptor) {
    struct stat status {};
    return fstat(descriptor, &status) == 0 ? static_cast<std::int64_t>(status.st_size) : -1;
}
bool CutTo(int descriptor, std::uint64_t size) {
    return ftruncate(descriptor, static_cast<off_t>(size)) == 0;
}
long ReadAt(int descriptor, char* buffer, std::size_t size, std::uint64_t offset) {
    return pread(descriptor, buffer, size, static_cast<off_t>(offset));
}
int CloseDescriptor(int descriptor) {
    return ::close(descriptor);
}

#endif

// The size of the file up to and including its last line end: what stays when a partial last
// line is cut off. -1 when the file cannot be read.
std::int64_t WholeLinesSize(int descriptor, std::int64_t size) {
    char block[4096];
    std::int64_t end = size;
    while (end > 0) {
        const std::int64_t start = end > static_cast<std::int64_t>(sizeof block)
                                       ? end - static_cast<std::int64_t>(sizeof block)
                                       : 0;
        const auto length = static_cast<std::size_t>(end - start);
        if (ReadAt(descriptor, block, length, static_cast<std::uint64_t>(start)) !=
            static_cast<long>(length)) {
            return -1;
        }
        for (std::size_t at = length; at > 0; --at) {
            if (block[at - 1] == '\n') {
                return start + static_cast<std::int64_t>(at);
            }
        }
        end = start;
    }
    return 0;
}

std::string Failure(const std::string& path, const std::error_code& error) {
    return path + ": " + error.message();
}

// How an existing regular file is opened, by the user's leave; 0 when it must stay as it is
// (failure then says why).
int ExistingFileFlags(const std::string& path, const OutputRules& rules, std::string& failure) {
    if (rules.append) {
        return kReadWrite | kAppend;  // its last line is read, to cut it when it is partial
    }
    const std::string question = path + ": " + LoadResourceString(IDS_CONFIRM_REPLACE_FILE);
    if (rules.force || (rules.mayAsk && Console::Get().AskYesNo(question))) {
        return kWrite | kAppend | kTruncate;
    }
    failure = question + " -> No (give --force to replace it, or --append to continue it)";
    return 0;
}

// Cuts off what a crash or power loss left of a last line; told to the user.
bool CutPartialLastLine(int descriptor, const std::string& path, std::int64_t& size,
                        std::string& failure) {
    const std::int64_t whole = WholeLinesSize(descriptor, size);
    if (whole < 0 || (whole < size && !CutTo(descriptor, static_cast<std::uint64_t>(whole)))) {
        failure = Failure(path, LastError());
        return false;
    }
    if (whole < size) {
        Console::Get().Warning(path + ": cut off a partial last line of " +
                               std::to_string(size - whole) +
                               " bytes that an earlier run left unfinished");
        size = whole;
    }
    return true;
}

}  // namespace

bool NamesStandardOutput(const std::string& path) {
    return path.empty() || path == "-" || IsStandardOutputFile(path);
}

std::unique_ptr<SampleTarget> SampleTarget::Open(const std::string& path, const OutputRules& rules,
                                                 std::string& failure) {
    if (NamesStandardOutput(path)) {
        return std::unique_ptr<SampleTarget>(
            new SampleTarget(1, kStandardOutputName, true, false, 0));
    }
    const PathKind kind = KindOf(path);
    int flags = kWrite | kAppend;
    switch (kind) {
        case PathKind::Missing:
            flags |= kCreate | kExclusive;
            break;
        case PathKind::DanglingLink:
            flags |= kCreate;
            break;
        case PathKind::Regular:
            flags = ExistingFileFlags(path, rules, failure);
            if (flags == 0) {
                return nullptr;
            }
            break;
        case PathKind::Other:
            flags = kWrite;
            break;
    }
    const int descriptor = OpenPath(path, flags);
    if (descriptor < 0) {
        failure = Failure(path, LastError());
        return nullptr;
    }
    std::int64_t size = kind == PathKind::Other ? 0 : SizeOf(descriptor);
    if (size > 0 && !CutPartialLastLine(descriptor, path, size, failure)) {
        CloseDescriptor(descriptor);
        return nullptr;
    }
    // A new file's name must survive a power loss as well as its lines.
    if (const std::error_code error =
            kind == PathKind::Regular ? std::error_code() : SyncFolderOf(path)) {
        failure = Failure(path, error);
        CloseDescriptor(descriptor);
        return nullptr;
    }
    return std::unique_ptr<SampleTarget>(new SampleTarget(
        descriptor, path, false, kind != PathKind::Other, static_cast<std::uint64_t>(size)));
}

SampleTarget::SampleTarget(int fileDescriptor, std::string targetName, bool isStandardOutput,
                           bool isRegularFile, std::uint64_t size)
    : descriptor(fileDescriptor),
      name(std::move(targetName)),
      standardOutput(isStandardOutput),
      regularFile(isRegularFile),
      wholeLinesSize(size),
      sync(isRegularFile ? std::make_unique<FileSync>(fileDescriptor) : nullptr) {}

SampleTarget::~SampleTarget() {
    Close();
}

WriteOutcome SampleTarget::Write(std::string_view line, std::error_code& error) {
    if (descriptor < 0) {
        error = std::make_error_code(std::errc::bad_file_descriptor);
        return WriteOutcome::Failed;
    }
    if (standardOutput) {
        const WriteOutcome outcome = Console::Get().Out(line);
        if (outcome != WriteOutcome::Written) {
            Console::Get().FirstOutputFailure(error);
        }
        return outcome;
    }
    // Lines that never reach the device are lost as surely as lines not written.
    if (sync != nullptr && sync->Failed()) {
        error = std::make_error_code(std::errc::io_error);
        return WriteOutcome::Failed;
    }
    const WriteOutcome outcome = WriteAll(descriptor, line, error);
    if (outcome == WriteOutcome::Written) {
        wholeLinesSize += line.size();
        if (sync != nullptr) {
            sync->Written();
        }
    } else {
        CutBack();
    }
    return outcome;
}

void SampleTarget::CutBack() {
    if (regularFile) {
        CutTo(descriptor, wholeLinesSize);  // a full disk still lets a file shrink
    }
}

std::error_code SampleTarget::Close() {
    if (standardOutput || descriptor < 0) {
        return {};
    }
    std::error_code error = sync != nullptr ? sync->Finish() : std::error_code();
    if (CloseDescriptor(descriptor) != 0 && !error) {
        error = LastError();
    }
    descriptor = -1;
    return error;
}
