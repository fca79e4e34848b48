#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// The one door to the disk. The engine builds its paths with backslashes, as the log shows
// them; every call here maps such a path to a native one first.
namespace platform {

// Backslashes become slashes and every run of separators is folded into one, so "D\\gallery\"
// and "D/gallery/" name the same directory.
std::string NativePath(std::string_view enginePath);

bool FileExists(const std::string& path);
bool DirectoryExists(const std::string& path);
// Creates one directory level; false when it could not (the parent is missing, no rights, ...).
bool CreateDir(const std::string& path);
bool DeleteFile(const std::string& path);
// Renames over an existing target, so a finished download replaces any earlier copy at once.
bool RenameFile(const std::string& from, const std::string& to);
// Creates every missing level of path; false when the directory is not there afterwards.
bool ForceDirectories(const std::string& path);
// Size of a regular file in bytes; -1 when there is none.
int64_t FileSize(const std::string& path);

// Creates a new empty file with a name of its own in directory (an engine path ending with a
// separator) and returns its path; raises EFCreateError when none can be made. Its name starts
// with ".vantrel-" and ends with ".part", so a leftover of a killed run is hidden and never
// has the name of a finished download.
std::string CreateTempFileIn(const std::string& directory);
// The same, open for writing: returns the descriptor and sets path.
int OpenTempFileIn(const std::string& directory, std::string& path);

// The native path with its "." components dropped: two names of one file, as a server may spell
// them ("a//b", "a/./b"), compare equal. Lexical only; links are not followed.
std::string ComparablePath(std::string_view enginePath);

// The one guard every name and path that came from a server passes before it touches the disk.
// A file name is one component of at most MaxNameBytes bytes: not empty, not "." or "..", and
// without a separator (slash or backslash) or a NUL byte.
inline constexpr size_t MaxNameBytes = 255;
bool IsSafeFileName(std::string_view name);
// A relative path (slash or backslash separated; a leading separator and doubled separators are
// harmless, since it is always joined below a directory of ours) is safe when none of its
// components is ".." or longer than MaxNameBytes, it holds no NUL byte and it is not longer
// than MaxPathBytes.
inline constexpr size_t MaxPathBytes = 3072;
bool IsSafeRelativePath(std::string_view path);

std::string CurrentDir();
bool SetCurrentDir(const std::string& path);

// The directory of the running program, native, with a trailing separator.
std::string ProgramDir();
// The program file's own name, such as "VantrelBackup".
std::string ProgramFileName();

} // namespace platform

// Sees every byte written to a file stream, in order: a hash made as the file is written, with
// no second read.
class TWriteObserver {
public:
    virtual ~TWriteObserver() = default;
    virtual void Written(const void* data, size_t count) = 0;
    // The file was emptied: what was seen so far no longer counts.
    virtual void Restarted() = 0;
};

// A file opened for writing (created or truncated) or for reading. Closed by its destructor.
class TFileStream {
public:
    enum class Mode { Create, OpenRead };

    // Raises EFCreateError "Cannot create file <name>" or EFOpenError "Cannot open file <name>".
    TFileStream(const std::string& fileName, Mode mode);
    // Takes over a descriptor open for writing, of an empty file.
    TFileStream(const std::string& fileName, int fd) : fileName_(fileName), fd_(fd) {}
    ~TFileStream();
    TFileStream(const TFileStream&) = delete;
    TFileStream& operator=(const TFileStream&) = delete;

    // Writes all of it or raises EFileError "Stream write error".
    void Write(const void* data, size_t count);
    // Reads up to count bytes at the current position; 0 at the end.
    size_t Read(void* data, size_t count);
    // Reads up to count bytes at an absolute offset, leaving the position alone.
    size_t ReadAt(void* data, size_t count, uint64_t offset);
    uint64_t Size() const;
    // Empties the file and writes from its start again (a body that begins anew).
    void Truncate();
    int Descriptor() const { return fd_; }
    // Shown each write from now on; null stops it. The observer must outlive the writes.
    void SetObserver(TWriteObserver* observer) { observer_ = observer; }
    void Close();
    const std::string& FileName() const { return fileName_; }

private:
    std::string fileName_;
    int fd_ = -1;
    TWriteObserver* observer_ = nullptr;
    // Whether anything was written since the file was last empty.
    bool written_ = false;
};
