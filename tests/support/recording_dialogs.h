#pragma once

#include "seams/dialogs.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

// Dialogs for the tests: records what was shown and answers the file dialog from a script.
class RecordingDialogs final : public seams::Dialogs {
public:
    struct Shown {
        enum class Kind { MessageBox, Message, Error, OpenFile } kind;
        QString text;
        QString caption;
        seams::BoxIcon icon = seams::BoxIcon::None;
        seams::OpenFileRequest request;
    };

    void messageBox(const QString& text, const QString& caption, seams::BoxIcon icon) override {
        shown.append({Shown::Kind::MessageBox, text, caption, icon, {}});
    }
    void showMessage(const QString& text) override {
        shown.append({Shown::Kind::Message, text, seams::applicationTitle(), seams::BoxIcon::None, {}});
    }
    void showError(const QString& text) override {
        shown.append({Shown::Kind::Error, text, seams::applicationTitle(), seams::BoxIcon::None, {}});
    }
    std::optional<QString> openFile(const seams::OpenFileRequest& request) override {
        shown.append({Shown::Kind::OpenFile, QString(), QString(), seams::BoxIcon::None, request});
        if (fileAnswers.isEmpty())
            return std::nullopt;
        return fileAnswers.takeFirst();
    }

    // "caption: text" of every box shown, in order.
    QStringList boxes() const {
        QStringList out;
        for (const Shown& s : shown)
            if (s.kind != Shown::Kind::OpenFile)
                out.append(s.caption + QStringLiteral(": ") + s.text);
        return out;
    }

    QList<Shown> shown;
    QList<std::optional<QString>> fileAnswers; // std::nullopt: the operator cancels
};
