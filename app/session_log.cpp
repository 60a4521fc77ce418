#include "app/session_log.h"

#include "platform/error.h"

#include <QDateTime>
#include <QDir>

SessionLog::SessionLog(const QString& path)
    : m_file(path) {
    if (!m_file.open(QIODevice::WriteOnly | QIODevice::Append))
        throw Error(QStringLiteral("Cannot open the log file %1: %2")
                        .arg(QDir::toNativeSeparators(path), m_file.errorString())
                        .toStdString());
}

void SessionLog::line(const QString& text) {
    write(QStringLiteral("log: ") + text);
}

void SessionLog::box(const QString& caption, const QString& text) {
    write(QStringLiteral("box: ") + caption + QStringLiteral(": ") + text);
}

void SessionLog::write(const QString& entry) {
    const QString stamp = QDateTime::currentDateTime().toString(Qt::ISODateWithMs);
    m_file.write((stamp + u' ' + entry + u'\n').toUtf8());
    m_file.flush();
}

void LoggedDialogs::messageBox(const QString& text, const QString& caption, BoxIcon icon) {
    m_log.box(caption, text);
    m_inner.messageBox(text, caption, icon);
}

void LoggedDialogs::showMessage(const QString& text) {
    m_log.box(applicationTitle(), text);
    m_inner.showMessage(text);
}

void LoggedDialogs::showError(const QString& text) {
    m_log.box(applicationTitle(), text);
    m_inner.showError(text);
}

std::optional<QString> LoggedDialogs::openFile(const OpenFileRequest& request) {
    const std::optional<QString> answer = m_inner.openFile(request);
    m_log.box(QStringLiteral("file dialog"), answer ? *answer : QStringLiteral("(cancelled)"));
    return answer;
}
