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

}  // namespace qgrad::testing
