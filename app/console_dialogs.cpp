#include "app/console_dialogs.h"

#include "app/session_log.h"

#include <cstdio>

using seams::applicationTitle;
using seams::BoxIcon;
using seams::OpenFileRequest;

namespace {

void print(const QString& caption, const QString& text) {
    const QByteArray line = (oneLine(caption + QStringLiteral(": ") + text) + u'\n').toUtf8();
    std::fwrite(line.constData(), 1, size_t(line.size()), stderr);
    std::fflush(stderr);
}

} // namespace

void ConsoleDialogs::messageBox(const QString& text, const QString& caption, BoxIcon) {
    print(caption, text);
}

void ConsoleDialogs::showMessage(const QString& text) {
    print(applicationTitle(), text);
}

void ConsoleDialogs::showError(const QString& text) {
    print(applicationTitle(), text);
}

std::optional<QString> ConsoleDialogs::openFile(const OpenFileRequest&) {
    return std::nullopt;
}
