// Output files: written under a temporary name in the target folder and put
// in place only when complete, so a failure never leaves a torn file where a
// good one stood.
#pragma once

#include <QSaveFile>
#include <QString>

#include <memory>
#include <string>
#include <string_view>

namespace qgrad {

class OutputFile {
public:
    // Throws FileError when the file cannot be created.
    explicit OutputFile(const QString& path);
    ~OutputFile();  // discards the temporary file unless committed
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    void Write(std::string_view bytes);
    // A line followed by CR LF.
    void WriteLine(std::string_view line);
    // Flushes and puts the file in place. Throws FileError.
    void Commit();
    const QString& path() const { return path_; }

private:
    void Flush();
    void WriteThrough(std::string_view bytes);
    [[noreturn]] void Fail(const char* what);

    QString path_;
    std::unique_ptr<QSaveFile> file_;
    std::string buffer_;
};

// File name with its extension replaced by `ext` (which includes the dot).
// The extension is the text from the last "." after the last path separator
// ("\", "/" or ":"); a name without one gets `ext` appended.
QString ReplaceExtension(const QString& name, const QString& ext);

// Path bytes in the local 8-bit encoding, as written into files.
std::string LocalBytes(const QString& text);

}  // namespace qgrad
