#pragma once

#include "seams/dialogs.h"

#include <QString>

#include <exception>
#include <functional>

namespace seams {

// The one place where an operation's errors end: one that escapes `handler` is shown in the standard
// error box and goes no further, so the window stays usable and nothing is logged.
inline void showingErrors(Dialogs& dialogs, const std::function<void()>& handler) {
    try {
        handler();
    } catch (const std::exception& error) {
        dialogs.showError(QString::fromUtf8(error.what()));
    } catch (...) {
        dialogs.showError(QStringLiteral("Неизвестная ошибка"));
    }
}

} // namespace seams
