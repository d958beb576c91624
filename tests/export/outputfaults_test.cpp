// Faults on output: a full disk and a read-only folder, on a small tmpfs the
// test mounts itself (as root; skipped where mounting is not allowed).
#include "common/errors.h"
#include "export/export.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <sys/mount.h>

using namespace qgrad;

namespace {

class SmallDisk : public ::testing::Test {
protected:
    void SetUp() override {
        if (mount("tmpfs", dir_.path().toLocal8Bit().constData(), "tmpfs", 0, "size=64k") != 0)
            GTEST_SKIP() << "cannot mount a small tmpfs here";
        mounted_ = true;
    }
    void TearDown() override {
        if (mounted_) umount(dir_.path().toLocal8Bit().constData());
    }
    void ReadOnly() {
        ASSERT_EQ(mount("tmpfs", dir_.path().toLocal8Bit().constData(), "tmpfs", MS_REMOUNT | MS_RDONLY, "size=64k"), 0);
    }
    static ArrangedPoints Points(std::size_t n) {
        ArrangedPoints p;
        for (std::size_t i = 0; i < n; ++i) p.append(37.5 + i * 1e-7, 55.75 + i * 1e-7, 48000.5, 1.25);
        return p;
    }
    QByteArray Read(const QString& path) {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
    }

    QTemporaryDir dir_;
    bool mounted_ = false;
};

TEST_F(SmallDisk, FullDiskKeepsTheEarlierCompleteFiles) {
    const ExportPaths paths = MakeExportPaths(dir_.path() + "/", "run.csv");
    PointExtent extent;
    WritePointFiles(paths, Points(100), extent);
    WriteGriddingScript(paths, extent);
    const QByteArray absolute = Read(paths.absoluteFile), gradient = Read(paths.gradientFile);
    ASSERT_EQ(absolute.count("\r\n"), 101);

    PointExtent more;
    try {
        WritePointFiles(paths, Points(5000), more);  // some 200 KB: more than the disk holds
        FAIL() << "no failure";
    } catch (const FileError& e) {
        EXPECT_NE(std::string(e.what()).find("GPS_"), std::string::npos) << e.what();
    }
    EXPECT_EQ(Read(paths.absoluteFile), absolute);
    EXPECT_EQ(Read(paths.gradientFile), gradient);
    EXPECT_EQ(QDir(dir_.path()).entryList(QDir::Files).size(), 3);  // no temporary file left behind
}

TEST_F(SmallDisk, ReadOnlyFolderFailsWithTheFileName) {
    const ExportPaths paths = MakeExportPaths(dir_.path() + "/", "run.csv");
    PointExtent extent;
    WritePointFiles(paths, Points(10), extent);
    const QByteArray before = Read(paths.absoluteFile);
    ReadOnly();
    try {
        WritePointFiles(paths, Points(20), extent);
        FAIL() << "no failure";
    } catch (const FileError& e) {
        EXPECT_NE(std::string(e.what()).find("GPS_ABS_run.txt"), std::string::npos) << e.what();
    }
    EXPECT_THROW(WriteGriddingScript(paths, extent), FileError);
    EXPECT_EQ(Read(paths.absoluteFile), before);
}

}  // namespace
