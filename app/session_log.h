#pragma once

#include "seams/dialogs.h"

#include <QFile>
#include <QString>

// A text as one physical line of standard output, standard error or the session log: a line break
// inside it becomes the two characters "\n", a carriage return "\r", so that a reader taking one
// record per line is not misled.
QString oneLine(const QString& text);

// The support log of --log: every activity-log line and every message box, each with a timestamp,
// appended to a file, so that support staff can read afterwards what an operator saw.
class SessionLog {
public:
    // Raises Error when the file cannot be opened for appending.
    explicit SessionLog(const QString& path);

    void line(const QString& text);
    void box(const QString& caption, const QString& text);
    // A message of Qt itself, kept off standard error.
    void qtMessage(const QString& text);

private:
    void write(const QString& entry);
    QFile m_file;
};

// Dialogs that write each box into the session log before showing it through `inner`.
class LoggedDialogs final : public seams::Dialogs {
public:
    LoggedDialogs(seams::Dialogs& inner, SessionLog& log)
        : m_inner(inner)
        , m_log(log) {}

    void messageBox(const QString& text, const QString& caption, seams::BoxIcon icon) override;
    void showMessage(const QString& text) override;
    void showError(const QString& text) override;
    std::optional<QString> openFile(const seams::OpenFileRequest& request) override;

private:
    seams::Dialogs& m_inner;
    SessionLog& m_log;
};
