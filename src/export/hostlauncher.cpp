#include "export/hostlauncher.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTimer>

#include <cerrno>

#ifdef _WIN32
#include <windows.h>
#else
#include <signal.h>
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

HostStarted SystemHostLauncher::StartGriddingHost(const QString& scriptPath, const QStringList& options,
                                                  std::function<void()> ended) {
#ifdef _WIN32
    // The mapping package's script host where it is installed.
    static const wchar_t* kScripter = L"C:\\Program Files (x86)\\Golden Software\\Surfer 15\\Scripter.exe";
    if (QFileInfo::exists(QString::fromWCharArray(kScripter))) {
        const std::wstring params = L"-x \"" + scriptPath.toStdWString() + L"\"";
        ShellExecuteW(static_cast<HWND>(owner_), L"open", kScripter, params.c_str(), L"C:\\", 1);
        return HostStarted::ShowsItsMap;
    }
#endif
    (void)owner_;
    // Elsewhere our own host; none installed is no error.
    const QString host = FindOwnGriddingHost();
    qint64 pid = 0;
    if (host.isEmpty() || !QProcess::startDetached(host, QStringList{"grid", "--no-view"} + options + QStringList{scriptPath}, QString(), &pid))
        return HostStarted::No;
#ifndef _WIN32
    if (ended) {
        // A detached host is no child of ours: watch whether it still runs.
        auto* timer = new QTimer(&watchers_);
        QObject::connect(timer, &QTimer::timeout, timer, [timer, pid, ended] {
            if (::kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM) return;
            timer->deleteLater();
            ended();
        });
        timer->start(500);
    }
#endif
    return HostStarted::LeavesTheMapToUs;
}

}  // namespace qgrad
