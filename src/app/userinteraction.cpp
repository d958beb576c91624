#include "app/userinteraction.h"

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>

namespace qgrad {

WidgetInteraction::~WidgetInteraction() { SetBusyCursor(false); }

std::optional<QString> WidgetInteraction::ChooseFileToOpen(const QString& folder) {
    const QString filters = QCoreApplication::translate("qgrad", "Survey files (*.csv *.CSV)") + ";;" +
                            QCoreApplication::translate("qgrad", "All files (*)");
    const QString path = QFileDialog::getOpenFileName(owner_, QString(), folder, filters);
    if (path.isEmpty()) return std::nullopt;
    return path;
}

std::optional<QString> WidgetInteraction::ChooseSaveFile(const QString& folder, const QString& suggestedName) {
    // No question before replacing: the combined files are replaced anyway.
    const QString path = QFileDialog::getSaveFileName(owner_, QString(), QDir(folder).filePath(suggestedName),
                                                      QString(), nullptr, QFileDialog::DontConfirmOverwrite);
    if (path.isEmpty()) return std::nullopt;
    return path;
}

std::optional<QString> WidgetInteraction::ChooseFolder(const QString& folder) {
    const QString chosen = QFileDialog::getExistingDirectory(owner_, QString(), folder);
    if (chosen.isEmpty()) return std::nullopt;
    return chosen;
}

void WidgetInteraction::ShowMessage(const QString& text, const QString& detail) {
    QMessageBox box(owner_);
    box.setWindowTitle(QApplication::applicationName());
    box.setText(text);
    if (!detail.isEmpty()) box.setDetailedText(detail);
    box.exec();
}

void WidgetInteraction::SetBusyCursor(bool busy) {
    if (busy == busy_) return;
    busy_ = busy;
    if (busy)
        QApplication::setOverrideCursor(Qt::WaitCursor);
    else
        QApplication::restoreOverrideCursor();
}

}  // namespace qgrad
