#include "common/language.h"

#include <QCoreApplication>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

#include <memory>

namespace qgrad {

QString InterfaceLanguage() {
    const QStringList languages = QLocale::system().uiLanguages();
    if (languages.isEmpty()) return "en";
    return QLocale(languages.first()).name().section('_', 0, 0);
}

QString InstallInterfaceLanguage(const QString& language) {
    const QString wanted = language.isEmpty() ? InterfaceLanguage() : language;
    // The program's own translation and Qt's (dialogs, message boxes), for
    // the program's run; replaced when the language changes.
    static std::unique_ptr<QTranslator> installed[2];
    for (auto& t : installed) {
        if (t) QCoreApplication::removeTranslator(t.get());
        t.reset();
    }
    if (wanted == "en") return wanted;
    auto own = std::make_unique<QTranslator>();
    if (!own->load(":/i18n/qgrad_" + wanted + ".qm")) return "en";
    QCoreApplication::installTranslator(own.get());
    installed[0] = std::move(own);
    auto qt = std::make_unique<QTranslator>();
    if (qt->load("qtbase_" + wanted, QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        QCoreApplication::installTranslator(qt.get());
        installed[1] = std::move(qt);
    }
    return wanted;
}

QString RefusalText(SurveyFormatError::Kind kind) {
    switch (kind) {
        case SurveyFormatError::Kind::Empty:
            return QCoreApplication::translate("qgrad", "Empty file!");
        case SurveyFormatError::Kind::OutOfMemory:
            return QCoreApplication::translate("qgrad", "Not enough memory to open this file");
        case SurveyFormatError::Kind::NotFound:
            return QCoreApplication::translate("qgrad", "File not found");
        case SurveyFormatError::Kind::BadFormat:
            break;
    }
    return QCoreApplication::translate("qgrad", "Wrong file format!");
}

}  // namespace qgrad
