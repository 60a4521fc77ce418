#pragma once

#include <QByteArray>
#include <QString>

// The update archive in the updater folder, and the password of its items (handed over as ASCII).
inline QString updateArchiveFragment() {
    return QStringLiteral("res/res_ad.zip");
}
inline QByteArray updateArchivePassword() {
    return QByteArrayLiteral("Hs6JqN2cXv9RkT4wBz7YpE3mUa8LdG5f");
}
