// The one Qt application object a test binary needs, made on first use.
#pragma once

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
