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
    const QString dir = QCoreApplication::applicationDirPath();
    for (const QString& candidate : {dir + "/qgrad", dir + "/../cli/qgrad"}) {
        const QFileInfo info(candidate);
        if (info.isFile() && info.isExecutable()) return info.canonicalFilePath();
    }
    return QStandardPaths::findExecutable("qgrad");
}

void SystemHostLauncher::StartGriddingHost(const QString& scriptPath) {
#ifdef _WIN32
    const std::wstring params = L"-x \"" + scriptPath.toStdWString() + L"\"";
    ShellExecuteW(static_cast<HWND>(owner_), L"open",
                  L"C:\\Program Files (x86)\\Golden Software\\Surfer 15\\Scripter.exe", params.c_str(), L"C:\\",
                  1);
#else
    (void)owner_;
    const QString host = FindOwnGriddingHost();
    if (!host.isEmpty()) QProcess::startDetached(host, {"grid", scriptPath});
#endif
}

}  // namespace qgrad
