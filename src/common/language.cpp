#include "common/language.h"

#include <QCoreApplication>
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
    // One translator for the program's run, replaced when the language changes.
    static std::unique_ptr<QTranslator> installed;
    if (installed) {
        QCoreApplication::removeTranslator(installed.get());
        installed.reset();
    }
    if (wanted == "en") return wanted;
    auto translator = std::make_unique<QTranslator>();
    if (!translator->load(":/i18n/qgrad_" + wanted + ".qm")) return "en";
    QCoreApplication::installTranslator(translator.get());
    installed = std::move(translator);
    return wanted;
}

QString RefusalText(SurveyFormatError::Kind kind) {
    return kind == SurveyFormatError::Kind::Empty ? QCoreApplication::translate("qgrad", "Empty file!")
                                                  : QCoreApplication::translate("qgrad", "Wrong file format!");
}

}  // namespace qgrad
