// Reading outputs back with GDAL's command-line tools and xmllint.
#pragma once

#include <gtest/gtest.h>

#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QString>
#include <QStringList>

namespace qgrad::testing {

// A tool's standard output; the test fails when the tool is missing or fails.
inline QString Tool(const QString& name, const QStringList& args) {
    const QString program = QStandardPaths::findExecutable(name);
    EXPECT_FALSE(program.isEmpty()) << "the test command installs " << name.toStdString();
    QProcess p;
    p.start(program, args);
    EXPECT_TRUE(p.waitForFinished(60000));
    EXPECT_EQ(p.exitCode(), 0) << name.toStdString() << " " << args.join(' ').toStdString() << "\n"
                               << p.readAllStandardError().toStdString();
    return QString::fromUtf8(p.readAllStandardOutput());
}

// "Minimum=..., Maximum=..." of gdalinfo -stats.
inline std::string ValueRange(const QString& gdalinfo) {
    const auto m = QRegularExpression("Minimum=[^,]+, Maximum=[^,]+").match(gdalinfo);
    return m.hasMatch() ? m.captured(0).toStdString() : std::string();
}

}  // namespace qgrad::testing
