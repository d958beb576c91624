// Starting the gridding host on a script: the mapping package's script host
// on Windows, our own `qgrad grid` elsewhere. Started detached, so that it
// outlives the window; a missing host is no error. Our own host shows no
// window of its own: the surveyor's window shows its picture, in one viewer
// for every result.
#pragma once

#include <QObject>
#include <QString>
#include <QStringList>

#include <functional>

namespace qgrad {

// Whether a host was started, and whether it shows the map it makes.
enum class HostStarted { No, ShowsItsMap, LeavesTheMapToUs };

class HostLauncher {
public:
    virtual ~HostLauncher() = default;
    // `ended`, when given, runs on this thread once the host has exited,
    // where the platform lets the program watch it. `options` are our own
    // host's words before the script (qgrad grid's flags); the mapping
    // package's script host takes none.
    virtual HostStarted StartGriddingHost(const QString& scriptPath, const QStringList& options = {},
                                          std::function<void()> ended = {}) = 0;
};

class SystemHostLauncher : public HostLauncher {
public:
    // `ownerWindow` is the native handle of the main window (Windows only).
    explicit SystemHostLauncher(void* ownerWindow = nullptr) : owner_(ownerWindow) {}
    HostStarted StartGriddingHost(const QString& scriptPath, const QStringList& options = {},
                                  std::function<void()> ended = {}) override;

private:
    void* owner_;
    QObject watchers_;  // the timers that watch running hosts; they end with the launcher
};

// Path of our own gridding host, empty when it is not installed.
QString FindOwnGriddingHost();

}  // namespace qgrad
