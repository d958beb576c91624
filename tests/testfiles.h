// Files as the tests read and write them, whole.
#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>

namespace qgrad::testing {

// A file's bytes; "<missing>" when it cannot be read.
inline QByteArray ReadAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

// Writes a file whole; false when it cannot be written.
inline bool WriteFile(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

// A survey file as a power cut or an interrupted copy leaves it: its last
// line without the line end and the last few readings.
inline QByteArray CutInItsLastLine(const QString& path) {
    QByteArray bytes = ReadAll(path);
    bytes.chop(30);
    return bytes;
}

}  // namespace qgrad::testing
