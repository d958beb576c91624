// Faults on output: a full disk and a read-only folder, on a small tmpfs the
// test mounts itself (as root; skipped where mounting is not allowed).
#include "common/errors.h"
#include "common/fileio.h"
#include "export/export.h"

#include "testfiles.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstring>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <dlfcn.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace qgrad;

namespace {

// A save's steps on the folder are its renames and removals. A child that
// sets this is killed at that step: that many are taken first.
int gStepsBeforeKill = -1;

void KillAtThisStep() {
    if (gStepsBeforeKill >= 0 && gStepsBeforeKill-- == 0) std::raise(SIGKILL);
}

// What a save asks of the disk, in order, when set: "sync NAME" (a folder's
// name ending in "/"), "rename FROM TO" and "unlink NAME", by file names.
std::vector<std::string>* gDiskLog = nullptr;

std::string FileName(const std::string& path) { return std::filesystem::path(path).filename().string(); }

}  // namespace

extern "C" int fsync(int fd) {
    if (gDiskLog) {
        const std::string path = std::filesystem::read_symlink("/proc/self/fd/" + std::to_string(fd)).string();
        gDiskLog->push_back("sync " + (std::filesystem::is_directory(path) ? std::string("/") : FileName(path)));
    }
    static const auto next = reinterpret_cast<int (*)(int)>(dlsym(RTLD_NEXT, "fsync"));
    return next(fd);
}

extern "C" int rename(const char* from, const char* to) {
    if (gDiskLog) gDiskLog->push_back("rename " + FileName(from) + " " + FileName(to));
    KillAtThisStep();
    static const auto next = reinterpret_cast<int (*)(const char*, const char*)>(dlsym(RTLD_NEXT, "rename"));
    return next(from, to);
}

extern "C" int unlink(const char* path) {
    if (gDiskLog) gDiskLog->push_back("unlink " + FileName(path));
    KillAtThisStep();
    static const auto next = reinterpret_cast<int (*)(const char*)>(dlsym(RTLD_NEXT, "unlink"));
    return next(path);
}

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
    static QByteArray Read(const QString& path) { return qgrad::testing::ReadAll(path); }

    QTemporaryDir dir_;
    bool mounted_ = false;
};

TEST_F(SmallDisk, FullDiskKeepsTheEarlierCompleteFiles) {
    const ExportPaths paths = MakeExportPaths(dir_.path() + "/", "run.csv");
    WriteExport(paths, Points(100));
    const QByteArray absolute = Read(paths.absoluteFile), gradient = Read(paths.gradientFile);
    const QByteArray script = Read(paths.scriptFile);
    ASSERT_EQ(absolute.count("\r\n"), 101);

    try {
        WriteExport(paths, Points(5000));  // some 200 KB: more than the disk holds
        FAIL() << "no failure";
    } catch (const FileError& e) {
        EXPECT_NE(std::string(e.what()).find("GPS_"), std::string::npos) << e.what();
        // The system's own words, not "Unknown error".
        EXPECT_NE(std::string(e.what()).find(std::strerror(ENOSPC)), std::string::npos) << e.what();
    }
    EXPECT_EQ(Read(paths.absoluteFile), absolute);
    EXPECT_EQ(Read(paths.gradientFile), gradient);
    EXPECT_EQ(Read(paths.scriptFile), script);
    // No temporary file or lock left behind.
    EXPECT_EQ(QDir(dir_.path()).entryList(QDir::Files | QDir::Hidden).size(), 3);
}

TEST_F(SmallDisk, ReadOnlyFolderFailsWithTheFileName) {
    const ExportPaths paths = MakeExportPaths(dir_.path() + "/", "run.csv");
    WriteExport(paths, Points(10));
    const QByteArray before = Read(paths.absoluteFile);
    ReadOnly();
    try {
        WriteExport(paths, Points(20));
        FAIL() << "no failure";
    } catch (const FileError& e) {
        EXPECT_NE(std::string(e.what()).find("GPS_DIFF_run.lock"), std::string::npos) << e.what();
    }
    EXPECT_EQ(Read(paths.absoluteFile), before);
}

// The files of one save are put in place together: when one of them cannot
// be made, none of the earlier three is replaced.
TEST(SaveTogether, OneFileThatCannotBeMadeReplacesNone) {
    QTemporaryDir dir;
    const ExportPaths paths = MakeExportPaths(dir.path() + "/", "run.csv");
    ArrangedPoints first;
    first.append(37.5, 55.75, 48000.5, 1.25);
    WriteExport(paths, first);
    const QByteArray absolute = qgrad::testing::ReadAll(paths.absoluteFile);
    const QByteArray gradient = qgrad::testing::ReadAll(paths.gradientFile);
    // The script's name is now taken by a folder.
    ASSERT_TRUE(QFile::remove(paths.scriptFile));
    ASSERT_TRUE(QDir(dir.path()).mkdir(QFileInfo(paths.scriptFile).fileName()));
    ArrangedPoints second = first;
    second.append(37.6, 55.76, 48001.5, 2.25);
    EXPECT_THROW(WriteExport(paths, second), FileError);
    EXPECT_EQ(qgrad::testing::ReadAll(paths.absoluteFile), absolute);
    EXPECT_EQ(qgrad::testing::ReadAll(paths.gradientFile), gradient);
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size(), 2);
}

// Two saves of the same names: the second waits for the first, and fails
// with a clear message when the first does not end in time.
TEST(SaveTogether, TwoSavesOfTheSameNamesAreKeptApart) {
    QTemporaryDir dir;
    const ExportPaths paths = MakeExportPaths(dir.path() + "/", "survey.csv");
    const ExportPaths sameNames = MakeExportPaths(dir.path() + "/", "survey.CSV");
    ASSERT_EQ(sameNames.scriptFile, paths.scriptFile);
    {
        ExportWriter first(paths);
        try {
            ExportWriter second(sameNames, std::chrono::milliseconds(100));
            FAIL() << "both saves ran at once";
        } catch (const FileError& e) {
            EXPECT_NE(std::string(e.what()).find("Another save of the same files is under way"), std::string::npos)
                << e.what();
        }
        first.Finish();
    }
    // Once the first has ended, the second goes ahead; a waiting one goes
    // ahead when the first ends.
    auto first = std::make_unique<ExportWriter>(paths);
    std::thread ending([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
        first->Finish();
        first.reset();
    });
    {
        ExportWriter second(sameNames);
        ending.join();
        second.Finish();
    }
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size(), 3);
}

// What an earlier save or a killed one left beside the files: each save
// clears what is its own, and only that.
TEST(SaveTogether, LeftoversOfEarlierSaves) {
    ArrangedPoints points;
    points.append(37.5, 55.75, 48000.5, 1.25);
    struct Leftover {
        const char* name;
        std::function<void(const ExportPaths&)> before;
        std::function<void(const ExportPaths&)> save;
        std::vector<QString> left;  // the hidden and report files after the save, sorted
    };
    const auto plain = [&](const ExportPaths& paths) { WriteExport(paths, points); };
    const Leftover cases[] = {
        {"a processing report of an earlier save", [&](const ExportPaths& paths) { WriteExport(paths, points, "lag: 5.00 s, as set\n"); },
         plain, {}},
        {"a processing report written again", [&](const ExportPaths& paths) { WriteExport(paths, points, "lag: 5.00 s, as set\n"); },
         [&](const ExportPaths& paths) { WriteExport(paths, points, "despike\n"); }, {"GPS_DIFF_run_processing.txt"}},
        {"temporaries of a killed save", [](const ExportPaths& paths) {
             for (const QString& f : {paths.absoluteFile, paths.gradientFile, paths.scriptFile})
                 qgrad::testing::WriteFile(QFileInfo(f).path() + "/." + QFileInfo(f).fileName() + ".1x2y3z.part", "cut");
         }, plain, {}},
        {"temporaries of other files and other programs", [](const ExportPaths& paths) {
             const QString folder = QFileInfo(paths.absoluteFile).path() + "/";
             for (const char* name : {".GPS_ABS_other.txt.1x2y.part", ".GPS_ABS_run.txt.NOT-OURS.part", ".GPS_DIFF_run.grd.1x2y.part"})
                 qgrad::testing::WriteFile(folder + name, "theirs");
         }, plain, {".GPS_ABS_other.txt.1x2y.part", ".GPS_ABS_run.txt.NOT-OURS.part", ".GPS_DIFF_run.grd.1x2y.part"}},
    };
    for (const Leftover& c : cases) {
        SCOPED_TRACE(c.name);
        QTemporaryDir dir;
        const ExportPaths paths = MakeExportPaths(dir.path() + "/", "run.csv");
        c.before(paths);
        c.save(paths);
        QStringList left = QDir(dir.path()).entryList(QDir::Files | QDir::Hidden, QDir::Name);
        for (const QString& f : {paths.absoluteFile, paths.gradientFile, paths.scriptFile})
            EXPECT_TRUE(left.removeOne(QFileInfo(f).fileName()));
        EXPECT_EQ(std::vector<QString>(left.begin(), left.end()), c.left);
    }
}

// Every file in `folder`, hidden ones too, by name.
std::map<QString, QByteArray> FolderContents(const QString& folder) {
    std::map<QString, QByteArray> contents;
    for (const QString& name : QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::System))
        contents[name] = qgrad::testing::ReadAll(folder + "/" + name);
    return contents;
}

void RestoreFolder(const QString& folder, const std::map<QString, QByteArray>& contents) {
    for (const QString& name : QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::System))
        ASSERT_TRUE(QFile::remove(folder + "/" + name));
    for (const auto& [name, bytes] : contents) ASSERT_TRUE(qgrad::testing::WriteFile(folder + "/" + name, bytes));
}

// A save killed at any step, and then the next writer of the same names
// started and abandoned: the folder holds the whole earlier set or the whole
// new one, and nothing else.
TEST(SaveTogether, KillAtAnyStepLeavesOneWholeSet) {
    ArrangedPoints few, more;
    few.append(37.5, 55.75, 48000.5, 1.25);
    more = few;
    more.append(37.6, 55.76, 48001.5, 2.25);
    struct Change {
        const char* name;
        ArrangedPoints before, after;
        std::optional<std::string_view> reportBefore, reportAfter;
    };
    const Change cases[] = {
        {"the report of the earlier save goes", few, more, "lag: 5.00 s, as set\n", std::nullopt},
        {"a report comes", few, more, std::nullopt, "despike\n"},
        {"the report is written again", more, few, "lag: 5.00 s, as set\n", "despike\n"},
    };
    for (const Change& c : cases) {
        SCOPED_TRACE(c.name);
        QTemporaryDir dir;
        const ExportPaths paths = MakeExportPaths(dir.path() + "/", "run.csv");
        WriteExport(paths, c.before, c.reportBefore);
        const auto before = FolderContents(dir.path());
        WriteExport(paths, c.after, c.reportAfter);
        const auto after = FolderContents(dir.path());
        ASSERT_NE(before, after);

        int killed = 0, leftBefore = 0;
        for (int step = 0;; ++step) {
            SCOPED_TRACE("killed after step " + std::to_string(step));
            RestoreFolder(dir.path(), before);
            const pid_t child = fork();
            ASSERT_GE(child, 0);
            if (child == 0) {
                gStepsBeforeKill = step;
                try {
                    WriteExport(paths, c.after, c.reportAfter);
                } catch (...) {
                    _exit(1);
                }
                _exit(0);
            }
            int status = 0;
            ASSERT_EQ(waitpid(child, &status, 0), child);
            if (WIFEXITED(status)) {
                // The save had fewer steps than this: it ended whole.
                ASSERT_EQ(WEXITSTATUS(status), 0);
                EXPECT_EQ(FolderContents(dir.path()), after);
                break;
            }
            ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);
            ++killed;
            { ExportWriter next(paths); }
            const auto left = FolderContents(dir.path());
            if (left == before) ++leftBefore;
            else EXPECT_EQ(left, after);
        }
        // Killed before the set was decided and after: both outcomes seen.
        EXPECT_GT(leftBefore, 0);
        EXPECT_GE(killed - leftBefore, 4);
    }
}

// A power cut keeps what reached the disk: each file of the save is there
// before the journal that decides for them, the journal's name before any
// step, and every step before the journal goes.
TEST(SaveTogether, PowerCutLeavesOneWholeSet) {
    ArrangedPoints points;
    points.append(37.5, 55.75, 48000.5, 1.25);
    const struct {
        const char* name;
        std::optional<std::string_view> reportBefore, report;
    } cases[] = {
        {"the point files and the script", std::nullopt, std::nullopt},
        {"with a report", std::nullopt, "despike\n"},
        {"an earlier report removed", "despike\n", std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        QTemporaryDir dir;
        const ExportPaths paths = MakeExportPaths(dir.path() + "/", "run.csv");
        WriteExport(paths, points, c.reportBefore);
        std::vector<std::string> log;
        gDiskLog = &log;
        WriteExport(paths, points, c.report);
        gDiskLog = nullptr;

        const auto at = [&](const std::string& event) { return std::find(log.begin(), log.end(), event) - log.begin(); };
        const auto journal = std::find_if(log.begin(), log.end(), [](const std::string& e) {
            return e.starts_with("rename ") && e.ends_with(" GPS_DIFF_run.journal");
        }) - log.begin();
        const auto journalGone = at("unlink GPS_DIFF_run.journal");
        ASSERT_LT(journalGone, static_cast<std::ptrdiff_t>(log.size())) << ::testing::PrintToString(log);
        const std::vector<std::string> steps(log.begin() + journal + 1, log.begin() + journalGone);
        const auto firstStep = std::find_if(steps.begin(), steps.end(), [](const std::string& e) { return e != "sync /"; });
        const auto lastStep = std::find_if(steps.rbegin(), steps.rend(), [](const std::string& e) { return e != "sync /"; });
        ASSERT_NE(firstStep, steps.end()) << ::testing::PrintToString(log);
        EXPECT_NE(std::find(steps.begin(), firstStep, "sync /"), firstStep) << ::testing::PrintToString(log);
        EXPECT_NE(lastStep, steps.rbegin()) << ::testing::PrintToString(log);
        std::size_t renamed = 0;
        for (const std::string& step : steps) {
            if (!step.starts_with("rename ")) continue;
            ++renamed;
            const std::string temporary = step.substr(7, step.find(' ', 7) - 7);
            EXPECT_LT(at("sync " + temporary), journal) << step << "\n" << ::testing::PrintToString(log);
        }
        EXPECT_EQ(renamed, c.report ? 4u : 3u);
        EXPECT_EQ(std::count(steps.begin(), steps.end(), "unlink GPS_DIFF_run_processing.txt"), c.report ? 0 : 1);
    }
}

// A lock planted as a symbolic link does not make the save create or touch
// a file where the link points.
TEST(SaveTogether, LockPlantedAsALink) {
    QTemporaryDir dir;
    const ExportPaths paths = MakeExportPaths(dir.path() + "/", "run.csv");
    const QString target = dir.filePath("elsewhere");
    ASSERT_EQ(symlink(target.toLocal8Bit().constData(), ReplaceExtension(paths.scriptFile, ".lock").toLocal8Bit().constData()), 0);
    ArrangedPoints points;
    points.append(37.5, 55.75, 48000.5, 1.25);
    EXPECT_THROW(WriteExport(paths, points), FileError);
    EXPECT_FALSE(QFileInfo::exists(target));
    EXPECT_FALSE(QFileInfo::exists(paths.absoluteFile));
}

// A name that is not UTF-8 is written under its own bytes.
TEST(SaveTogether, NameThatIsNotUtf8) {
    QTemporaryDir dir;
    const ExportPaths paths = MakeExportPaths(dir.path() + "/", FromLocalBytes("\xC0line.csv"));
    ArrangedPoints points;
    points.append(37.5, 55.75, 48000.5, 1.25);
    WriteExport(paths, points);
    const std::string folder = dir.path().toStdString() + "/";
    for (const char* name : {"GPS_ABS_\xC0line.txt", "GPS_DIFF_\xC0line.txt", "GPS_DIFF_\xC0line.bas"}) {
        EXPECT_TRUE(std::filesystem::is_regular_file(folder + name)) << name;
        std::filesystem::remove(folder + name);
    }
    const std::string script = GriddingScript(paths, {});
    EXPECT_NE(script.find("DataFile:=\"" + folder + "GPS_DIFF_\xC0line.txt\""), std::string::npos);
}

}  // namespace
