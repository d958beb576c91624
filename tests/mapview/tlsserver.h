// A one-thread HTTPS server on 127.0.0.1 for the map request tests: a
// self-signed certificate made at start, one canned answer per request, and
// the requests it saw.
#pragma once

#include <QByteArray>
#include <QString>

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace qgrad::testing {

class TlsServer {
public:
    // Answer: the canned answer. Silent: never a byte back. Endless: a body
    // of no declared length that never ends, until the client hangs up.
    enum class Mode { Answer, Silent, Endless };

    TlsServer();
    ~TlsServer();

    void SetAnswer(int status, QByteArray contentType, QByteArray body);
    void SetMode(Mode mode) { mode_ = mode; }
    // The next request alone is answered "302 Found" to `location`.
    void RedirectOnce(QByteArray location);
    // Bytes of body sent in Endless mode.
    long long endlessBytes() const { return endlessBytes_; }
    int port() const { return port_; }
    std::string url() const { return "https://127.0.0.1:" + std::to_string(port_); }
    // The certificate in PEM, for the client's CA file.
    const std::string& certificateFile() const { return certFile_; }
    std::vector<std::string> requests();

private:
    void Serve();

    int listenFd_ = -1;
    int port_ = 0;
    void* ctx_ = nullptr;  // SSL_CTX
    std::string certFile_;
    std::atomic<bool> stop_{false};
    std::atomic<Mode> mode_{Mode::Answer};
    std::mutex mutex_;
    int status_ = 200;
    QByteArray contentType_ = "image/jpeg";
    QByteArray body_;
    QByteArray redirect_;
    std::atomic<long long> endlessBytes_{0};
    std::vector<std::string> requests_;
    std::thread thread_;
};

}  // namespace qgrad::testing
