#pragma once

#include "platform/codepage_native.h"

#include <QByteArray>
#include <QString>

namespace codepage {

QString decode(const QByteArray& bytes, Page page);
QByteArray encode(const QString& text, Page page);

} // namespace codepage
