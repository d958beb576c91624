#include "common/errors.h"
#include "common/fileio.h"

#include "testfiles.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <map>
#include <memory>
#include <string>


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

// Names keep the file system's bytes: valid UTF-8 decodes as text, any other
// byte comes back as itself.
TEST(FileNames, BytesThatAreNotUtf8RoundTrip) {
    struct Case {
        const char* name;
        std::string bytes;
        const char16_t* text;  // nullptr: the escaped form is not checked
    };
    const Case cases[] = {
        {"ASCII", "line07.csv", u"line07.csv"},
        {"Cyrillic", "\xD0\x9F\xD0\xBE\xD0\xBB\xD0\xB5.csv", u"\u041F\u043E\u043B\u0435.csv"},
        {"Latin-1 byte", "caf\xE9.csv", u"caf\xDCE9.csv"},
        {"lone continuation byte", "\x80", u"\xDC80"},
        {"cut sequence at the end", "a\xD0", u"a\xDCD0"},
        {"overlong slash", "\xC0\xAF", u"\xDCC0\xDCAF"},
        {"UTF-8 of an escape character", "\xED\xB2\x80", u"\xDCED\xDCB2\xDC80"},
        {"four-byte sequence", "\xF0\x9F\x98\x80", nullptr},
        // Its second half is a low surrogate in the escapes' range: not an escape.
        {"four-byte sequence ending like an escape", "\xF1\xB3\xB3\xB3", u"\xD98F\xDCF3"},
        {"the same after a lone byte", "\xF1\xF1\xB3\xB3\xB3", u"\xDCF1\xD98F\xDCF3"},
        {"beyond U+10FFFF", "\xF4\x90\x80\x80", nullptr},
        {"every high byte", [] {
             std::string s;
             for (int b = 0x80; b <= 0xFF; ++b) s += static_cast<char>(b);
             return s;
         }(), nullptr},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const QString text = FromLocalBytes(c.bytes);
        if (c.text) {
            EXPECT_EQ(text, QString::fromUtf16(c.text));
        }
        EXPECT_EQ(LocalBytes(text), c.bytes);
    }
}

TEST(InputFiles, OnlyRegularFilesAreOpened) {
    QTemporaryDir dir;
    const QString file = dir.filePath("survey.csv");
    {
        OutputFile out(file);
        out.Write("12345");
        out.Commit();
    }
    const std::unique_ptr<InputFile> input = OpenRegularFile(file);
    EXPECT_EQ(input->opened.size, 5);
    EXPECT_EQ(input->Stamp(), input->opened);
    EXPECT_EQ(NonRegularKind(file), "");
    EXPECT_EQ(NonRegularKind(dir.filePath("missing")), "");
    EXPECT_EQ(NonRegularKind(dir.path()), "a folder");
    EXPECT_EQ(NonRegularKind("/dev/null"), "a device");
    try {
        OpenRegularFile(dir.path());
        FAIL() << "a folder was opened";
    } catch (const FileReadError& e) {
        EXPECT_STREQ(e.what(), "it is a folder, not a regular file");
    }
    EXPECT_THROW(OpenRegularFile(dir.filePath("missing")), FileReadError);
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

// What the next holder of a lock finds of a save that was cut off, and does.
TEST(FolderLockTest, SaveCutOffIsFinishedByTheNextHolder) {
    using namespace std::string_literals;
    struct Case {
        const char* name;
        std::map<QString, QByteArray> found;  // besides the lock's journal
        std::string journal;
        std::map<QString, QByteArray> left;  // the folder after, but for the journal
        bool refused = false;                // the journal stays then
    };
    const Case cases[] = {
        {"renames not yet taken", {{"a.txt", "old"}, {".a.txt.1x.part", "new"}, {"b.txt", "old"}, {".b.txt.2y.part", "new"}},
         ".a.txt.1x.part\0a.txt\0.b.txt.2y.part\0b.txt\0"s, {{"a.txt", "new"}, {"b.txt", "new"}}},
        {"one rename taken before the kill", {{"a.txt", "new"}, {"b.txt", "old"}, {".b.txt.2y.part", "new"}},
         ".a.txt.1x.part\0a.txt\0.b.txt.2y.part\0b.txt\0"s, {{"a.txt", "new"}, {"b.txt", "new"}}},
        {"a removal", {{"a.txt", "old"}, {"report.txt", "old"}}, "\0report.txt\0"s, {{"a.txt", "old"}}},
        {"a journal killed while it was written", {{".run.journal.3z.part", ".a"}, {"a.txt", "old"}}, {},
         {{"a.txt", "old"}}},
        {"another file moved over one", {{"a.txt", "old"}, {"b.txt", "theirs"}}, "b.txt\0a.txt\0"s,
         {{"a.txt", "old"}, {"b.txt", "theirs"}}, true},
        {"a name outside the folder", {{"a.txt", "old"}}, "\0../a.txt\0"s, {{"a.txt", "old"}}, true},
        {"a cut journal", {{"a.txt", "old"}}, "\0a.txt"s, {{"a.txt", "old"}}, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QTemporaryDir dir;
        const QString folder = dir.path() + "/";
        for (const auto& [name, bytes] : c.found) ASSERT_TRUE(qgrad::testing::WriteFile(folder + name, bytes));
        if (!c.journal.empty()) {
            ASSERT_TRUE(qgrad::testing::WriteFile(folder + "run.journal", QByteArray::fromStdString(c.journal)));
        }
        if (c.refused) {
            try {
                FolderLock lock(folder + "run.lock");
                FAIL() << "a journal no save wrote was followed";
            } catch (const FileError& e) {
                EXPECT_NE(std::string(e.what()).find("run.journal"), std::string::npos) << e.what();
            }
        } else {
            FolderLock lock(folder + "run.lock");
        }
        std::map<QString, QByteArray> left;
        for (const QString& name : QDir(dir.path()).entryList(QDir::Files | QDir::Hidden))
            if (name != "run.journal") left[name] = qgrad::testing::ReadAll(folder + name);
        EXPECT_EQ(left, c.left);
        EXPECT_EQ(QFileInfo::exists(folder + "run.journal"), c.refused);
    }
}

}  // namespace
