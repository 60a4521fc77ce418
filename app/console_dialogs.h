#pragma once

#include "seams/dialogs.h"

// The unattended mode's dialogs: every box goes to standard error as "<caption>: <text>", one line
// each (line breaks written as "\n"); the file dialog answers as an operator who cancels.
class ConsoleDialogs final : public seams::Dialogs {
public:
    void messageBox(const QString& text, const QString& caption, seams::BoxIcon icon) override;
    void showMessage(const QString& text) override;
    void showError(const QString& text) override;
    std::optional<QString> openFile(const seams::OpenFileRequest& request) override;
};
