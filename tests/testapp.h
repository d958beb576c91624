// The one Qt application object a test binary needs, made on first use.
#pragma once

#include "testfiles.h"

#include <QCoreApplication>

namespace qgrad::testing {

template <typename App>
void EnsureApplication() {
    static int argc = 1;
    static char name[] = "qgrad-tests";
    static char* argv[] = {name, nullptr};
    if (!QCoreApplication::instance()) new App(argc, argv);
}

}  // namespace qgrad::testing

#include <QBuffer>
#include <QByteArray>
#include <QColor>
#include <QFile>
#include <QImage>

#include <cstdlib>
#include <optional>
#include <string>

namespace qgrad::testing {

// A 650 x 450 JPEG of one colour, as the map service would send.
inline QByteArray JpegOf(QColor colour) {
    QImage image(650, 450, QImage::Format_RGB32);
    image.fill(colour);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "JPEG");
    return bytes;
}

// Sets (nullptr: unsets) an environment variable for a scope, and puts
// back what was there before.
class ScopedEnvironment {
public:
    ScopedEnvironment(const char* name, const char* value) : name_(name) {
        if (const char* old = std::getenv(name)) old_ = old;
        Set(value);
    }
    ~ScopedEnvironment() { Set(old_ ? old_->c_str() : nullptr); }
    ScopedEnvironment(const ScopedEnvironment&) = delete;
    ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

private:
    void Set(const char* value) {
        if (value)
            setenv(name_.c_str(), value, 1);
        else
            unsetenv(name_.c_str());
    }
    std::string name_;
    std::optional<std::string> old_;
};

}  // namespace qgrad::testing
