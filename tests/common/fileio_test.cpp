#include "common/errors.h"
#include "common/fileio.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>


using namespace qgrad;

namespace {

TEST(FileNames, ReplaceExtension) {
    const std::pair<const char*, const char*> cases[] = {
        {"line07.csv", "line07.txt"},      {"line07", "line07.txt"},
        {"a.b.csv", "a.b.txt"},            {"dir.x/name", "dir.x/name.txt"},
        {"C:\\dir.x\\name", "C:\\dir.x\\name.txt"}, {"C:name", "C:name.txt"},
        {".hidden", ".txt"},               {"comb.TXT", "comb.txt"},
    };
    for (const auto& [in, out] : cases) EXPECT_EQ(ReplaceExtension(in, ".txt"), QString(out)) << in;
}

QByteArray ReadAll(const QString& path) {
    QFile f(path);
    EXPECT_TRUE(f.open(QIODevice::ReadOnly));
    return f.readAll();
}

TEST(OutputFileTest, CommitReplacesAndAbandonKeepsOldFile) {
    QTemporaryDir dir;
    const QString path = dir.filePath("out.txt");
    {
        OutputFile f(path);
        f.WriteLine("first");
        f.Commit();
    }
    EXPECT_EQ(ReadAll(path), QByteArray("first\r\n"));
    {
        OutputFile f(path);
        f.WriteLine("torn");
        // destroyed without Commit: a failure part-way
    }
    EXPECT_EQ(ReadAll(path), QByteArray("first\r\n"));
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files).size(), 1);
}

TEST(OutputFileTest, FolderThatCannotTakeTheFileFailsWithItsName) {
    QTemporaryDir dir;
    try {
        OutputFile f(dir.filePath("missing/out.txt"));
        FAIL() << "no error";
    } catch (const FileError& e) {
        EXPECT_NE(std::string(e.what()).find("missing/out.txt"), std::string::npos) << e.what();
    }
}

TEST(OutputFileTest, DirectoryInTheWayFailsOnCommit) {
    QTemporaryDir dir;
    ASSERT_TRUE(QDir(dir.path()).mkdir("taken.bas"));
    EXPECT_THROW(
        {
            OutputFile f(dir.filePath("taken.bas"));
            f.WriteLine("x");
            f.Commit();
        },
        FileError);
    EXPECT_TRUE(QFileInfo(dir.filePath("taken.bas")).isDir());
}

}  // namespace
