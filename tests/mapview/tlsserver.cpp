#include "tlsserver.h"

#include <QDir>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <openssl/err.h>
#include <openssl/pem.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <stdexcept>

namespace qgrad::testing {
namespace {

void AddExtension(X509* cert, int nid, const char* value) {
    X509V3_CTX v3;
    X509V3_set_ctx_nodb(&v3);
    X509V3_set_ctx(&v3, cert, cert, nullptr, nullptr, 0);
    X509_EXTENSION* ext = X509V3_EXT_conf_nid(nullptr, &v3, nid, value);
    X509_add_ext(cert, ext, -1);
    X509_EXTENSION_free(ext);
}

}  // namespace

TlsServer::TlsServer() {
    // A client that hangs up mid-answer must fail the write, not end the test.
    std::signal(SIGPIPE, SIG_IGN);
    EVP_PKEY* key = EVP_RSA_gen(2048);
    X509* cert = X509_new();
    X509_set_version(cert, 2);
    ASN1_INTEGER_set(X509_get_serialNumber(cert), 1);
    X509_gmtime_adj(X509_getm_notBefore(cert), -3600);
    X509_gmtime_adj(X509_getm_notAfter(cert), 86400);
    X509_set_pubkey(cert, key);
    X509_NAME* name = X509_get_subject_name(cert);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char*>("127.0.0.1"), -1, -1, 0);
    X509_set_issuer_name(cert, name);
    AddExtension(cert, NID_basic_constraints, "critical,CA:TRUE");
    AddExtension(cert, NID_subject_alt_name, "IP:127.0.0.1");
    X509_sign(cert, key, EVP_sha256());

    certFile_ = QDir::temp().filePath("qgrad-test-cert-" + QString::number(getpid()) + "-" +
                                      QString::number(reinterpret_cast<quintptr>(this)) + ".pem")
                    .toStdString();
    FILE* f = std::fopen(certFile_.c_str(), "w");
    PEM_write_X509(f, cert);
    std::fclose(f);

    SSL_CTX* ctx = SSL_CTX_new(TLS_server_method());
    SSL_CTX_use_certificate(ctx, cert);
    SSL_CTX_use_PrivateKey(ctx, key);
    ctx_ = ctx;
    X509_free(cert);
    EVP_PKEY_free(key);

    listenFd_ = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = 0;
    if (bind(listenFd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || listen(listenFd_, 8) != 0)
        throw std::runtime_error("test server cannot listen");
    socklen_t len = sizeof addr;
    getsockname(listenFd_, reinterpret_cast<sockaddr*>(&addr), &len);
    port_ = ntohs(addr.sin_port);
    thread_ = std::thread([this] { Serve(); });
}

TlsServer::~TlsServer() {
    stop_ = true;
    thread_.join();
    close(listenFd_);
    SSL_CTX_free(static_cast<SSL_CTX*>(ctx_));
    std::remove(certFile_.c_str());
}

void TlsServer::SetAnswer(int status, QByteArray contentType, QByteArray body) {
    std::lock_guard lock(mutex_);
    status_ = status;
    contentType_ = std::move(contentType);
    body_ = std::move(body);
}

void TlsServer::RedirectOnce(QByteArray location) {
    std::lock_guard lock(mutex_);
    redirect_ = std::move(location);
}

std::vector<std::string> TlsServer::requests() {
    std::lock_guard lock(mutex_);
    return requests_;
}

void TlsServer::Serve() {
    while (!stop_) {
        pollfd p{listenFd_, POLLIN, 0};
        if (poll(&p, 1, 50) <= 0) continue;
        const int fd = accept(listenFd_, nullptr, nullptr);
        if (fd < 0) continue;
        SSL* ssl = SSL_new(static_cast<SSL_CTX*>(ctx_));
        SSL_set_fd(ssl, fd);
        if (SSL_accept(ssl) == 1) {
            std::string request;
            char buf[4096];
            while (request.find("\r\n\r\n") == std::string::npos) {
                const int n = SSL_read(ssl, buf, sizeof buf);
                if (n <= 0) break;
                request.append(buf, n);
            }
            {
                std::lock_guard lock(mutex_);
                requests_.push_back(request);
            }
            QByteArray redirect;
            {
                std::lock_guard lock(mutex_);
                redirect.swap(redirect_);
            }
            if (!redirect.isEmpty()) {
                const QByteArray answer = "HTTP/1.1 302 Found\r\nLocation: " + redirect +
                                          "\r\nContent-Length: 0\r\nConnection: close\r\n\r\n";
                SSL_write(ssl, answer.constData(), static_cast<int>(answer.size()));
                SSL_shutdown(ssl);
            } else if (mode_ == Mode::Silent) {
                while (!stop_) std::this_thread::sleep_for(std::chrono::milliseconds(20));
            } else if (mode_ == Mode::Endless) {
                const QByteArray head = "HTTP/1.1 200 OK\r\nContent-Type: image/jpeg\r\nConnection: close\r\n\r\n";
                const QByteArray chunk(64 << 10, '\xFF');
                bool open = SSL_write(ssl, head.constData(), static_cast<int>(head.size())) > 0;
                while (open && !stop_) {
                    open = SSL_write(ssl, chunk.constData(), static_cast<int>(chunk.size())) > 0;
                    if (open) endlessBytes_ += chunk.size();
                }
            } else {
                QByteArray answer;
                {
                    std::lock_guard lock(mutex_);
                    answer = "HTTP/1.1 " + QByteArray::number(status_) + " X\r\nContent-Type: " + contentType_ +
                             "\r\nContent-Length: " + QByteArray::number(body_.size()) +
                             "\r\nConnection: close\r\n\r\n" + body_;
                }
                SSL_write(ssl, answer.constData(), static_cast<int>(answer.size()));
                SSL_shutdown(ssl);
            }
        }
        SSL_free(ssl);
        close(fd);
    }
}

}  // namespace qgrad::testing
