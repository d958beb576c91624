// Starting the gridding host on a script: the mapping package's script host
// on Windows, our own `qgrad grid` elsewhere. Started detached, so that it
// outlives the window; a missing host is no error.
#pragma once

#include <QObject>
#include <QString>

#include <functional>

namespace qgrad {

class HostLauncher {
public:
    virtual ~HostLauncher() = default;
    // False when no host is there. `ended`, when given, runs on this thread
    // once the host has exited, where the platform lets the program watch it.
    virtual bool StartGriddingHost(const QString& scriptPath, std::function<void()> ended = {}) = 0;
};

class SystemHostLauncher : public HostLauncher {
public:
    // `ownerWindow` is the native handle of the main window (Windows only).
    explicit SystemHostLauncher(void* ownerWindow = nullptr) : owner_(ownerWindow) {}
    bool StartGriddingHost(const QString& scriptPath, std::function<void()> ended = {}) override;

private:
    void* owner_;
    QObject watchers_;  // the timers that watch running hosts; they end with the launcher
};

// Path of our own gridding host, empty when it is not installed.
QString FindOwnGriddingHost();

}  // namespace qgrad
