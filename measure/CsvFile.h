// The files of the CSV output: one way of opening them, line writing that survives a crash of
// the program and, up to its last second, a power loss, and the few file-system steps the output
// needs. Paths are UTF-8. No window
// system; failures come back as the platform's own error codes, whose message() is the text
// the operator sees.
#pragma once

#include <cstdio>
#include <memory>
#include <string>
#include <system_error>

#include "measure/MeasurementSample.h"

class FileSync;

// An open CSV file: created when missing, its content kept, write-only, every write appended
// at its end, in binary so the CR LF of each line reaches the disk unchanged. Lines are not
// buffered: each one has been handed to the system when WriteLine returns, and is on the storage
// device within a second (FileSync) and at Close. A file that Open creates has its name synced
// to the device as well. On Windows no other program can open the file meanwhile.
// One thread at a time; the object may pass from one thread to another in between.
class CsvFile {
public:
    // Null when the file cannot be opened or created, or its new name not synced (the empty file
    // then stays); error then holds the platform's code.
    static std::unique_ptr<CsvFile> Open(const std::string& path, std::error_code& error);
    ~CsvFile();  // closes the file if still open, ignoring any error
    CsvFile(const CsvFile&) = delete;
    CsvFile& operator=(const CsvFile&) = delete;

    // Appends the sample's CSV line. False when the system did not take all of it; later
    // lines are still tried.
    bool WriteLine(const MeasurementSample& sample);
    // True once any line could not be written or a sync of the file failed, the one at Close
    // included: such a file may miss lines after a power loss.
    bool AnyLineFailed() const;
    // Syncs and closes the file: empty on success, else the platform's code of the first
    // failure. Later calls do nothing.
    std::error_code Close();

private:
    CsvFile(std::FILE* openFile, std::unique_ptr<FileSync> fileSync);

    std::FILE* file;
    std::unique_ptr<FileSync> sync;
    bool anyLineFailed = false;
};

// The name as a full path: relative to the current folder, "." and ".." resolved. The name
// itself when the current folder cannot be found.
std::string FullPath(const std::string& name);

// True when a file, a folder or a link of that name exists.
bool PathExists(const std::string& path);

// Deletes a file. A folder is never deleted: it gives the platform's own error for deleting
// it as a file. Empty on success.
std::error_code DeleteFileOnly(const std::string& path);

// Implemented once per platform (CsvFile_posix.cpp, CsvFile_win.cpp).
namespace csv_platform {
// Opens path as CsvFile describes; null with the platform's code on failure.
std::FILE* OpenForAppending(const std::string& path, std::error_code& error);
#ifdef _WIN32
// The UTF-8 path as Windows' wide-character calls take it.
std::wstring WidePath(const std::string& utf8);
#endif
}  // namespace csv_platform
