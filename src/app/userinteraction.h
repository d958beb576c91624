// What the window's commands ask of the person and of the desktop: dialogs,
// the modal message box, the busy cursor. The window uses the
// widget implementation; tests replace it.
#pragma once

#include <QString>

#include <optional>

class QWidget;

namespace qgrad {

class UserInteraction {
public:
    virtual ~UserInteraction() = default;
    // OPEN FILE's dialog, opened in `folder`: a path, or nothing when cancelled.
    virtual std::optional<QString> ChooseFileToOpen(const QString& folder) = 0;
    // The save dialog, opened in `folder` and preset with a file name: a
    // path, or nothing.
    virtual std::optional<QString> ChooseSaveFile(const QString& folder, const QString& suggestedName) = 0;
    // A folder chooser, opened at `folder`: a folder, or nothing when cancelled.
    virtual std::optional<QString> ChooseFolder(const QString& folder) = 0;
    // A modal message box with a fixed text and, when there is one, a detail.
    virtual void ShowMessage(const QString& text, const QString& detail = {}) = 0;
    virtual void SetBusyCursor(bool busy) = 0;
};

class WidgetInteraction : public UserInteraction {
public:
    explicit WidgetInteraction(QWidget* owner) : owner_(owner) {}
    ~WidgetInteraction() override;
    std::optional<QString> ChooseFileToOpen(const QString& folder) override;
    std::optional<QString> ChooseSaveFile(const QString& folder, const QString& suggestedName) override;
    std::optional<QString> ChooseFolder(const QString& folder) override;
    void ShowMessage(const QString& text, const QString& detail) override;
    void SetBusyCursor(bool busy) override;

private:
    QWidget* owner_;
    bool busy_ = false;
};

}  // namespace qgrad
