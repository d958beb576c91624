#include "common/fileio.h"

#include "common/errors.h"

#include <QRandomGenerator>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <thread>

namespace qgrad {
namespace {
constexpr std::size_t kFlushSize = 1 << 20;
constexpr std::size_t kWriteThrough = 64 << 10;

// Bytes that are not UTF-8 are kept as the low surrogates U+DC80 to U+DCFF,
// which no valid text holds alone.
constexpr char16_t kEscapeBase = 0xDC00;

bool IsEscapedByte(char16_t c) { return c >= kEscapeBase + 0x80 && c <= kEscapeBase + 0xFF; }

}  // namespace

std::size_t Utf8SequenceLength(std::string_view s) {
    const auto b = [&](std::size_t i) { return static_cast<unsigned char>(s[i]); };
    const auto cont = [&](std::size_t i) { return i < s.size() && (b(i) & 0xC0) == 0x80; };
    const unsigned char c = b(0);
    if (c < 0x80) return 1;
    if (c >= 0xC2 && c <= 0xDF) return cont(1) ? 2 : 0;
    if (c >= 0xE0 && c <= 0xEF) {
        if (!cont(1) || !cont(2)) return 0;
        if (c == 0xE0 && b(1) < 0xA0) return 0;   // overlong
        if (c == 0xED && b(1) >= 0xA0) return 0;  // a surrogate
        return 3;
    }
    if (c >= 0xF0 && c <= 0xF4) {
        if (!cont(1) || !cont(2) || !cont(3)) return 0;
        if (c == 0xF0 && b(1) < 0x90) return 0;
        if (c == 0xF4 && b(1) >= 0x90) return 0;
        return 4;
    }
    return 0;
}

namespace {

const char* KindOf(mode_t mode) {
    if (S_ISDIR(mode)) return "a folder";
    if (S_ISFIFO(mode)) return "a FIFO";
    if (S_ISSOCK(mode)) return "a socket";
    if (S_ISCHR(mode) || S_ISBLK(mode)) return "a device";
    return "not a regular file";
}

constexpr const char* kPartSuffix = ".part";

// The temporary names of `path` are this, a base-36 number and kPartSuffix.
QString TemporaryPrefix(const QString& path) {
    const qsizetype slash = path.lastIndexOf('/');
    return path.left(slash + 1) + "." + path.mid(slash + 1) + ".";
}

FileStamp StampOf(const struct stat& st) {
    return {static_cast<std::int64_t>(st.st_size),
            static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1'000'000'000 + st.st_mtim.tv_nsec};
}

std::string ErrnoText() { return std::strerror(errno); }

QString FolderOf(const QString& path) { return path.left(path.lastIndexOf('/') + 1); }

// One step of a save put in place together, by names in the lock's folder:
// `temporary` renamed to `target`, or `target` removed when `temporary` is
// empty.
struct JournalStep {
    QString temporary;
    QString target;
};

// `path`'s name in `folder`; the journal's steps stay in its folder.
QString NameIn(const QString& folder, const QString& path) {
    if (FolderOf(path) != folder) throw std::logic_error("a file put in place together lies outside the lock's folder");
    return path.mid(folder.size());
}

// The steps as names of the file system's bytes, each ended by a zero byte,
// which no name holds.
std::string JournalText(const std::vector<JournalStep>& steps) {
    std::string text;
    for (const JournalStep& step : steps) {
        text += LocalBytes(step.temporary) + '\0';
        text += LocalBytes(step.target) + '\0';
    }
    return text;
}

// The steps of a journal; nullopt for one that no save wrote.
std::optional<std::vector<JournalStep>> ParseJournal(std::string_view text) {
    std::vector<QString> names;
    while (!text.empty()) {
        const std::size_t end = text.find('\0');
        if (end == std::string_view::npos) return std::nullopt;
        names.push_back(FromLocalBytes(text.substr(0, end)));
        text.remove_prefix(end + 1);
    }
    if (names.size() % 2 != 0) return std::nullopt;
    std::vector<JournalStep> steps;
    for (std::size_t i = 0; i < names.size(); i += 2) {
        const JournalStep step{names[i], names[i + 1]};
        // Only a file's own temporary may be put in its place: a planted
        // journal cannot move one file over another.
        const bool ownTemporary = step.temporary.isEmpty() ||
                                  (step.temporary.startsWith(TemporaryPrefix(step.target)) &&
                                   step.temporary.endsWith(kPartSuffix) && !step.temporary.contains('/'));
        if (step.target.isEmpty() || step.target.contains('/') || !ownTemporary) return std::nullopt;
        steps.push_back(step);
    }
    return steps;
}

// The folder's entries on the disk: the renames and removals in it so far
// outlast a power cut.
void SyncFolder(const QString& folder) {
    const std::string bytes = LocalBytes(folder.isEmpty() ? QStringLiteral(".") : folder);
    const int fd = ::open(bytes.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0 || ::fsync(fd) != 0) {
        const std::string why = ErrnoText();
        if (fd >= 0) ::close(fd);
        throw FileError("Cannot write the folder " + bytes + ": " + why);
    }
    ::close(fd);
}

// Takes the steps in `folder`. A save finished after a kill finds the
// renames done before the kill without their temporaries.
void TakeSteps(const QString& folder, const std::vector<JournalStep>& steps, bool finishingCutOff) {
    for (const JournalStep& step : steps) {
        if (step.temporary.isEmpty()) {
            RemoveFile(folder + step.target);
            continue;
        }
        const std::string target = LocalBytes(folder + step.target);
        if (::rename(LocalBytes(folder + step.temporary).c_str(), target.c_str()) != 0 &&
            !(finishingCutOff && errno == ENOENT))
            throw FileError("Cannot write file " + target + ": " + ErrnoText());
    }
}

}  // namespace

FileStamp InputFile::Stamp() const {
    struct stat st {};
    if (::fstat(handle(), &st) != 0) throw FileReadError(ErrnoText());
    return StampOf(st);
}

std::unique_ptr<InputFile> OpenRegularFile(const QString& path) {
    // Without O_NONBLOCK, opening a FIFO waits for a writer.
    const int fd = ::open(LocalBytes(path).c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        // A socket cannot be opened at all: say what it is.
        const int error = errno;
        const std::string why = ErrnoText();
        const std::string kind = NonRegularKind(path);
        throw FileReadError(kind.empty() ? why : "it is " + kind + ", not a regular file", error);
    }
    auto file = std::make_unique<InputFile>();
    if (!file->open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        throw FileReadError(file->errorString().toStdString());
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0) throw FileReadError(ErrnoText());
    if (!S_ISREG(st.st_mode)) throw FileReadError(std::string("it is ") + KindOf(st.st_mode) + ", not a regular file");
    file->opened = StampOf(st);
    return file;
}

std::string NonRegularKind(const QString& path) {
    struct stat st {};
    if (::stat(LocalBytes(path).c_str(), &st) != 0 || S_ISREG(st.st_mode)) return {};
    return KindOf(st.st_mode);
}

OutputFile::OutputFile(const QString& path) : path_(path), file_(std::make_unique<QFile>()) {
    const std::string kind = NonRegularKind(path);
    if (!kind.empty()) Fail("Cannot create file", "it is " + kind + ", not a regular file");
    // A hidden name beside the target, so that putting it in place is one
    // rename on the same file system.
    for (int attempt = 0;; ++attempt) {
        temporary_ = TemporaryPrefix(path) + QString::number(QRandomGenerator::global()->generate(), 36) + kPartSuffix;
        const int fd = ::open(LocalBytes(temporary_).c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0) {
            if (!file_->open(fd, QIODevice::WriteOnly | QIODevice::Unbuffered, QFileDevice::AutoCloseHandle)) {
                ::close(fd);
                ::unlink(LocalBytes(temporary_).c_str());
                Fail("Cannot create file", file_->errorString().toStdString());
            }
            break;
        }
        if (errno != EEXIST || attempt == 16) {
            temporary_.clear();
            Fail("Cannot create file", ErrnoText());
        }
    }
    buffer_.reserve(kFlushSize + 4096);
}

OutputFile::~OutputFile() {
    if (file_->isOpen()) file_->close();
    if (!inPlace_ && !temporary_.isEmpty()) ::unlink(LocalBytes(temporary_).c_str());
}

void OutputFile::Write(std::string_view bytes) {
    if (bytes.size() >= kWriteThrough) {
        // Large pieces go straight to the file.
        Flush();
        WriteThrough(bytes);
        return;
    }
    buffer_.append(bytes);
    if (buffer_.size() >= kFlushSize) Flush();
}

void OutputFile::WriteThrough(std::string_view bytes) {
    // Straight to the descriptor: Qt's text for a full disk is "Unknown
    // error", the system's says what to do.
    while (!bytes.empty()) {
        const ssize_t n = ::write(file_->handle(), bytes.data(), bytes.size());
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) Fail("Cannot write file", n < 0 ? ErrnoText() : std::strerror(ENOSPC));
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
}

void OutputFile::WriteLine(std::string_view line) {
    buffer_.append(line);
    buffer_.append("\r\n");
    if (buffer_.size() >= kFlushSize) Flush();
}

void OutputFile::Flush() {
    if (buffer_.empty()) return;
    WriteThrough(buffer_);
    buffer_.clear();
}

void OutputFile::Complete() {
    if (completed_) return;
    Flush();
    file_->close();
    if (file_->error() != QFileDevice::NoError) Fail("Cannot write file", file_->errorString().toStdString());
    completed_ = true;
}

void OutputFile::CompleteToDisk() {
    // A closed file has no handle left to sync.
    if (completed_) throw std::logic_error("a file completed already cannot be put on the disk");
    Flush();
    if (::fsync(file_->handle()) != 0) Fail("Cannot write file", ErrnoText());
    Complete();
}

void OutputFile::PutInPlace() {
    Complete();
    if (::rename(LocalBytes(temporary_).c_str(), LocalBytes(path_).c_str()) != 0)
        Fail("Cannot write file", ErrnoText());
    inPlace_ = true;
}

void OutputFile::Commit() { PutInPlace(); }

void OutputFile::Fail(const std::string& what, const std::string& why) {
    throw FileError(what + " " + LocalBytes(path_) + ": " + why);
}

void RemoveStaleTemporaries(const QString& path) {
    const QString prefix = TemporaryPrefix(path);
    const qsizetype slash = prefix.lastIndexOf('/');
    const std::string folder = LocalBytes(prefix.left(slash + 1));
    const std::string start = LocalBytes(prefix.mid(slash + 1));
    const std::string_view end = kPartSuffix;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(folder.empty() ? "." : folder, error)) {
        const std::string name = entry.path().filename().native();
        if (name.size() <= start.size() + end.size() || !name.starts_with(start) || !name.ends_with(end)) continue;
        const std::string_view number(name.data() + start.size(), name.size() - start.size() - end.size());
        if (!std::all_of(number.begin(), number.end(), [](unsigned char c) { return std::isdigit(c) || std::islower(c); }))
            continue;
        // Gone already (another cleaner) is as good as removed.
        std::filesystem::remove(entry.path(), error);
    }
}

void RemoveFile(const QString& path) {
    if (::unlink(LocalBytes(path).c_str()) != 0 && errno != ENOENT)
        throw FileError("Cannot remove " + LocalBytes(path) + ": " + ErrnoText());
}

FolderLock::FolderLock(const QString& lockPath, std::chrono::milliseconds wait)
    : path_(lockPath), journal_(ReplaceExtension(lockPath, ".journal")) {
    const std::string bytes = LocalBytes(lockPath);
    const auto giveUp = std::chrono::steady_clock::now() + wait;
    for (;;) {
        // A link planted in the lock's place would have the lock created
        // wherever it points.
        fd_ = ::open(bytes.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0666);
        if (fd_ < 0) throw FileError("Cannot lock " + bytes + ": " + ErrnoText());
        if (::flock(fd_, LOCK_EX | LOCK_NB) == 0) {
            // The holder before us may have removed the file after we opened
            // it: the lock counts only on the file that is still there.
            struct stat held {}, there {};
            if (::fstat(fd_, &held) == 0 && ::stat(bytes.c_str(), &there) == 0 && held.st_dev == there.st_dev &&
                held.st_ino == there.st_ino) {
                try {
                    FinishCutOffSave();
                } catch (...) {
                    Release();
                    throw;
                }
                return;
            }
        } else if (errno != EWOULDBLOCK) {
            const std::string why = ErrnoText();
            ::close(fd_);
            throw FileError("Cannot lock " + bytes + ": " + why);
        }
        ::close(fd_);
        fd_ = -1;
        if (std::chrono::steady_clock::now() >= giveUp)
            throw FileError("Another save of the same files is under way (" + bytes +
                            " is held); try again when it has ended");
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
}

FolderLock::~FolderLock() { Release(); }

void FolderLock::Release() {
    // Removed while still held, so that no one locks a file about to go.
    ::unlink(LocalBytes(path_).c_str());
    ::close(fd_);
}

void FolderLock::FinishCutOffSave() {
    // A journal killed while it was written never took its name.
    RemoveStaleTemporaries(journal_);
    std::unique_ptr<InputFile> file;
    try {
        file = OpenRegularFile(journal_);
    } catch (const FileReadError& e) {
        if (e.error == ENOENT) return;
        throw FileError("Cannot read " + LocalBytes(journal_) + ": " + e.what());
    }
    const QByteArray text = file->readAll();
    const std::optional<std::vector<JournalStep>> steps = ParseJournal({text.constData(), static_cast<std::size_t>(text.size())});
    if (!steps)
        throw FileError("Cannot finish the save cut off in " + LocalBytes(journal_) +
                        ": the file is not a save's journal; remove it to save again");
    TakeSteps(FolderOf(path_), *steps, true);
    SyncFolder(FolderOf(path_));
    RemoveFile(journal_);
}

void FolderLock::PutInPlaceTogether(const std::vector<OutputFile*>& files, const std::vector<QString>& removals) {
    const QString folder = FolderOf(path_);
    std::vector<JournalStep> steps;
    for (const QString& path : removals) steps.push_back({{}, NameIn(folder, path)});
    // A power cut then leaves the earlier set or the new one too: the files
    // are on the disk before the journal that decides for them, the journal
    // before any step, and the steps before the journal goes.
    for (OutputFile* f : files) {
        f->CompleteToDisk();
        steps.push_back({NameIn(folder, f->temporary_), NameIn(folder, f->path_)});
    }
    OutputFile journal(journal_);
    journal.Write(JournalText(steps));
    journal.CompleteToDisk();
    journal.PutInPlace();
    SyncFolder(folder);
    // The save is decided: the temporaries are the journal's now, kept for
    // the next holder should a step fail.
    for (OutputFile* f : files) f->inPlace_ = true;
    try {
        TakeSteps(folder, steps, false);
    } catch (const FileError& e) {
        throw FileError(std::string(e.what()) + "; the next save of these files finishes this one");
    }
    SyncFolder(folder);
    RemoveFile(journal_);
}

QString ReplaceExtension(const QString& name, const QString& ext) {
    qsizetype sep = -1;
    for (QChar c : {QChar('\\'), QChar('/'), QChar(':')}) sep = std::max(sep, name.lastIndexOf(c));
    const qsizetype dot = name.lastIndexOf('.');
    if (dot > sep) return name.left(dot) + ext;
    return name + ext;
}

std::string LocalBytes(const QString& text) {
    // A low surrogate stands for a byte only alone: after a high surrogate
    // it is the second half of a character beyond U+FFFF.
    auto escaped = [&](qsizetype i) {
        return IsEscapedByte(text[i].unicode()) && !(i > 0 && text[i - 1].isHighSurrogate());
    };
    bool any = false;
    for (qsizetype i = 0; i < text.size() && !any; ++i) any = escaped(i);
    if (!any) return text.toUtf8().toStdString();
    std::string bytes;
    qsizetype from = 0;
    for (qsizetype i = 0; i <= text.size(); ++i) {
        if (i < text.size() && !escaped(i)) continue;
        bytes += QStringView(text).mid(from, i - from).toUtf8().toStdString();
        if (i < text.size()) bytes += static_cast<char>(text[i].unicode() - kEscapeBase);
        from = i + 1;
    }
    return bytes;
}

QString FromLocalBytes(std::string_view bytes) {
    QString text;
    std::size_t from = 0;
    std::size_t i = 0;
    while (i < bytes.size()) {
        const std::size_t n = Utf8SequenceLength(bytes.substr(i));
        if (n > 0) {
            i += n;
            continue;
        }
        text += QString::fromUtf8(bytes.data() + from, static_cast<qsizetype>(i - from));
        text += QChar(static_cast<char16_t>(kEscapeBase + static_cast<unsigned char>(bytes[i])));
        from = ++i;
    }
    text += QString::fromUtf8(bytes.data() + from, static_cast<qsizetype>(bytes.size() - from));
    return text;
}

}  // namespace qgrad
