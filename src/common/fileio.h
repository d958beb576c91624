// Files in and out.
//
// Input: only regular files are read, opened without blocking so that a FIFO
// or a device never holds the program, and stamped so that a file that
// changes while it is read can be told.
//
// Output: written under a temporary name in the target folder and put in
// place only when complete, so a failure never leaves a torn file where a
// good one stood. The files of one command are completed first and then put
// in place together through a journal beside them (see FolderLock), so that
// a kill at any moment leaves the whole earlier set or the whole new one.
//
// Names: a file name is carried in a QString. Where the file system's bytes
// are not valid in the local encoding (UTF-8 here), each byte that cannot be
// decoded is kept as a character of its own (U+DC80 to U+DCFF) and turned
// back into the same byte, so such a file is read and written under its own
// name.
#pragma once

#include <QFile>
#include <QString>

#include <chrono>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <vector>
#include <string>
#include <string_view>

namespace qgrad {

// A file that cannot be read; what() is the reason, without the file's name.
class FileReadError : public std::runtime_error {
public:
    explicit FileReadError(const std::string& reason, int error = 0) : std::runtime_error(reason), error(error) {}
    int error;  // the system's error number, 0 for none
};

// What a file looked like: a file whose stamp differs was changed.
struct FileStamp {
    std::int64_t size = 0;
    std::int64_t modifiedNs = 0;
    bool operator==(const FileStamp&) const = default;
};

// A regular file open for reading, with its stamp when it was opened.
class InputFile : public QFile {
public:
    FileStamp opened;
    // The stamp now. Throws FileReadError.
    FileStamp Stamp() const;
};

// Opens `path` for reading. A FIFO, device, socket or folder is refused
// before a byte is read and without waiting for a writer. Throws FileReadError.
std::unique_ptr<InputFile> OpenRegularFile(const QString& path);

// What kind of thing `path` names when it is neither missing nor a regular
// file ("a folder", "a FIFO", "a device", "a socket"); empty otherwise.
std::string NonRegularKind(const QString& path);

class FolderLock;

class OutputFile {
public:
    // Throws FileError when the file cannot be created, or when the path
    // names anything but a regular file.
    explicit OutputFile(const QString& path);
    ~OutputFile();  // removes the temporary file unless put in place
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    void Write(std::string_view bytes);
    // A line followed by CR LF.
    void WriteLine(std::string_view line);
    // Writes the rest of the file under its temporary name and closes it.
    // Throws FileError.
    void Complete();
    // Complete, and on the disk before this returns; not after Complete.
    void CompleteToDisk();
    // Puts a completed file in place of any earlier one. Throws FileError.
    void PutInPlace();
    // Complete and put in place.
    void Commit();
    const QString& path() const { return path_; }

private:
    void Flush();
    void WriteThrough(std::string_view bytes);
    [[noreturn]] void Fail(const std::string& what, const std::string& why);

    // Puts the temporary file in place through its journal.
    friend class FolderLock;

    QString path_;
    QString temporary_;
    std::unique_ptr<QFile> file_;
    std::string buffer_;
    bool completed_ = false;
    bool inPlace_ = false;
};

// Removes the temporary files that an OutputFile of `path` left behind when
// its process was killed. Only for a caller that holds the lock over `path`:
// another writer's temporary would go too.
void RemoveStaleTemporaries(const QString& path);

// Removes `path`; a missing file is no failure. Throws FileError.
void RemoveFile(const QString& path);

// Keeps two saves of the same files apart: held from construction to
// destruction, by a lock file beside them that is removed afterwards. A
// second holder waits up to `wait`, then throws FileError.
//
// The holder puts its files in place together: a journal beside the lock
// (its name with ".journal" for ".lock") lists every step first, and goes
// only when all are done. Each of these is on the disk before the next, so
// that a power cut too leaves one whole set. A save that was killed part-way leaves its
// journal, and the next holder of the lock finishes that save before it
// goes on, so the files are the whole earlier set until the journal is in
// place and the whole new set from then on.
class FolderLock {
public:
    static constexpr std::chrono::milliseconds kDefaultWait{5000};

    // Throws FileError also when a save that was cut off cannot be finished.
    FolderLock(const QString& lockPath, std::chrono::milliseconds wait = kDefaultWait);
    ~FolderLock();
    FolderLock(const FolderLock&) = delete;
    FolderLock& operator=(const FolderLock&) = delete;

    // Completes `files` and puts them in place, and removes `removals` (a
    // missing one is no failure), as one step that a kill cannot split. All
    // lie in the lock's folder. Throws FileError; when a file cannot be put
    // in place once the journal is written, the journal stays and the next
    // holder finishes the save.
    void PutInPlaceTogether(const std::vector<OutputFile*>& files, const std::vector<QString>& removals);

    const QString& journalPath() const { return journal_; }

private:
    void FinishCutOffSave();
    void Release();

    QString path_;
    QString journal_;
    int fd_ = -1;
};

// File name with its extension replaced by `ext` (which includes the dot).
// The extension is the text from the last "." after the last path separator
// ("\", "/" or ":"); a name without one gets `ext` appended.
QString ReplaceExtension(const QString& name, const QString& ext);

// What the target list's name ends with beside its grid file
// ("GPS_DIFF_NAME.grd" gives "GPS_DIFF_NAME_targets.csv").
inline constexpr char kTargetListEnding[] = "_targets.csv";

// Length of the valid UTF-8 sequence at the start of `s`, 0 when there is none.
std::size_t Utf8SequenceLength(std::string_view s);

// A name as the file system's bytes, as written into files and messages.
std::string LocalBytes(const QString& text);
// The name that LocalBytes turns into `bytes`.
QString FromLocalBytes(std::string_view bytes);

}  // namespace qgrad
