#include "export/hostlauncher.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>

#ifdef _WIN32
#include <windows.h>
#endif

namespace qgrad {

QString FindOwnGriddingHost() {
#ifdef _WIN32
    const QString name = "qgrad.exe";
#else
    const QString name = "qgrad";
#endif
    const QString dir = QCoreApplication::applicationDirPath();
    for (const QString& candidate : {dir + "/" + name, dir + "/../cli/" + name}) {
        const QFileInfo info(candidate);
        if (info.isFile() && info.isExecutable()) return info.canonicalFilePath();
    }
    return QStandardPaths::findExecutable("qgrad");
}

void SystemHostLauncher::StartGriddingHost(const QString& scriptPath) {
#ifdef _WIN32
    // The mapping package's script host where it is installed.
    static const wchar_t* kScripter = L"C:\\Program Files (x86)\\Golden Software\\Surfer 15\\Scripter.exe";
    if (QFileInfo::exists(QString::fromWCharArray(kScripter))) {
        const std::wstring params = L"-x \"" + scriptPath.toStdWString() + L"\"";
        ShellExecuteW(static_cast<HWND>(owner_), L"open", kScripter, params.c_str(), L"C:\\", 1);
        return;
    }
#endif
    (void)owner_;
    // Elsewhere our own host; none installed is no error.
    const QString host = FindOwnGriddingHost();
    if (!host.isEmpty()) QProcess::startDetached(host, {"grid", scriptPath});
}

}  // namespace qgrad
