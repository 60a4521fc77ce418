#pragma once

#include <QString>

#include <optional>

namespace seams {

// Every dialog the program shows goes through this seam: the window shows Qt's dialogs, the
// unattended mode writes them to standard error and the tests record them and script the answers.
enum class BoxIcon { None, Warning };

struct OpenFileRequest {
    QString filter; // pairs of description and mask, "|"-separated: "Файлы баз данных|*.accdb"
    QString initialFolder; // empty: wherever the dialog likes
    bool fileMustExist = false;
};

class Dialogs {
public:
    virtual ~Dialogs() = default;

    // The captioned message box: a text, a caption and an OK button; no icon, or the warning icon
    // of the provider error box.
    virtual void messageBox(const QString& text, const QString& caption, BoxIcon icon = BoxIcon::None) = 0;
    // The plain message dialog: a text and an OK button, captioned with the application's title.
    virtual void showMessage(const QString& text) = 0;
    // The standard error box: an error that escaped a handler.
    virtual void showError(const QString& text) = 0;
    // The file-open dialog; no value when the operator cancels.
    virtual std::optional<QString> openFile(const OpenFileRequest& request) = 0;

    // The provider error box: one database error, caption "Ошибка!", warning icon.
    void providerError(const QString& description) {
        messageBox(description, QStringLiteral("Ошибка!"), BoxIcon::Warning);
    }
};

// The caption of the plain message dialog and of the standard error box.
inline QString applicationTitle() {
    return QStringLiteral("update_3_7");
}

} // namespace seams
