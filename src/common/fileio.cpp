#include "common/fileio.h"

#include "common/errors.h"

namespace qgrad {
namespace {
constexpr std::size_t kFlushSize = 1 << 20;
constexpr std::size_t kWriteThrough = 64 << 10;
}

OutputFile::OutputFile(const QString& path) : path_(path), file_(std::make_unique<QSaveFile>(path)) {
    // Every save replaces the file; a folder we cannot write to fails here.
    file_->setDirectWriteFallback(false);
    if (!file_->open(QIODevice::WriteOnly | QIODevice::Unbuffered)) Fail("Cannot create file");
    buffer_.reserve(kFlushSize + 4096);
}

// QSaveFile discards its temporary file when destroyed uncommitted.
OutputFile::~OutputFile() = default;

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
    const qint64 n = file_->write(bytes.data(), static_cast<qint64>(bytes.size()));
    if (n != static_cast<qint64>(bytes.size())) Fail("Cannot write file");
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

void OutputFile::Commit() {
    Flush();
    if (!file_->commit()) Fail("Cannot write file");
}

void OutputFile::Fail(const char* what) {
    std::string text = std::string(what) + " " + LocalBytes(path_) + ": " + file_->errorString().toStdString();
    if (file_->isOpen()) file_->cancelWriting();
    throw FileError(text);
}

QString ReplaceExtension(const QString& name, const QString& ext) {
    qsizetype sep = -1;
    for (QChar c : {QChar('\\'), QChar('/'), QChar(':')}) sep = std::max(sep, name.lastIndexOf(c));
    const qsizetype dot = name.lastIndexOf('.');
    if (dot > sep) return name.left(dot) + ext;
    return name + ext;
}

std::string LocalBytes(const QString& text) { return text.toLocal8Bit().toStdString(); }

}  // namespace qgrad
