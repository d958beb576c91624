// Starting the gridding host on a script: the mapping package's script host
// on Windows, our own `qgrad grid` elsewhere. Started detached; the program
// never learns the outcome, and a missing host is no error.
#pragma once

#include <QString>

namespace qgrad {

class HostLauncher {
public:
    virtual ~HostLauncher() = default;
    virtual void StartGriddingHost(const QString& scriptPath) = 0;
};

class SystemHostLauncher : public HostLauncher {
public:
    // `ownerWindow` is the native handle of the main window (Windows only).
    explicit SystemHostLauncher(void* ownerWindow = nullptr) : owner_(ownerWindow) {}
    void StartGriddingHost(const QString& scriptPath) override;

private:
    void* owner_;
};

// Path of our own gridding host, empty when it is not installed.
QString FindOwnGriddingHost();

}  // namespace qgrad
