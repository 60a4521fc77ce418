#pragma once

#include "seams/dialogs.h"

#include <QPointer>
#include <QWidget>

// Qt's own texts of the dialogs (the "ОК" button, the file dialog) in Russian, as the system shows
// them on the Russian Windows the kit runs on. False when Qt's Russian translation is not installed.
bool installQtTranslation();

// The window's dialogs: Qt's message boxes and file dialog, owned by the main window.
class QtDialogs final : public seams::Dialogs {
public:
    void setOwner(QWidget* owner) { m_owner = owner; }

    void messageBox(const QString& text, const QString& caption, seams::BoxIcon icon) override;
    void showMessage(const QString& text) override;
    void showError(const QString& text) override;
    std::optional<QString> openFile(const seams::OpenFileRequest& request) override;

private:
    QPointer<QWidget> m_owner;
};
