// The interface language: the first of the user's interface languages
// (LANGUAGE, then LC_ALL, LC_MESSAGES, LANG on Linux). Under Russian the
// program speaks as its users have always known it; otherwise English. The
// number rules never follow it: they follow the regional settings.
#pragma once

#include "common/errors.h"

#include <QString>

class QCoreApplication;

namespace qgrad {

// The language code ("ru", "en", ...) of the user's interface language.
QString InterfaceLanguage();

// Installs the translation of `language` (InterfaceLanguage() when empty)
// into the application; English needs none. Returns the language in use.
QString InstallInterfaceLanguage(const QString& language = {});

// The fixed text of a refusal, in the interface language.
QString RefusalText(SurveyFormatError::Kind kind);

}  // namespace qgrad
