#include "app/session_log.h"

#include "base/error.h"
#include "base/system_error.h"

#include <QDateTime>
#include <QDir>

#include <cerrno>

using base::errnoText;
using base::Error;
using seams::applicationTitle;
using seams::BoxIcon;
using seams::OpenFileRequest;

QString oneLine(const QString& text) {
    if (!text.contains(u'\n') && !text.contains(u'\r'))
        return text;
    QString line;
    line.reserve(text.size() + 8);
    for (const QChar c : text) {
        if (c == u'\n')
            line.append(QStringLiteral("\\n"));
        else if (c == u'\r')
            line.append(QStringLiteral("\\r"));
        else
            line.append(c);
    }
    return line;
}

SessionLog::SessionLog(const QString& path)
    : m_file(path) {
    errno = 0;
    if (!m_file.open(QIODevice::WriteOnly | QIODevice::Append)) {
        // QFile keeps the system's error code only in its English text.
        const QString reason = errno != 0 ? QString::fromStdString(errnoText(errno)) : m_file.errorString();
        throw Error(QStringLiteral("Не удается открыть файл журнала %1: %2")
                        .arg(QDir::toNativeSeparators(path), reason)
                        .toStdString());
    }
}

void SessionLog::line(const QString& text) {
    write(QStringLiteral("log: ") + text);
}

void SessionLog::box(const QString& caption, const QString& text) {
    write(QStringLiteral("box: ") + caption + QStringLiteral(": ") + text);
}

void SessionLog::qtMessage(const QString& text) {
    write(QStringLiteral("qt: ") + text);
}

void SessionLog::write(const QString& entry) {
    const QString stamp = QDateTime::currentDateTime().toString(Qt::ISODateWithMs);
    m_file.write((stamp + u' ' + oneLine(entry) + u'\n').toUtf8());
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
    m_log.box(QStringLiteral("Открытие файла"), answer ? *answer : QStringLiteral("(отменено)"));
    return answer;
}
