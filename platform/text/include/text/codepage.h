#pragma once

#include "native/codepage_native.h"

#include <QByteArray>
#include <QString>

namespace text {

using native::Page;

QString decode(const QByteArray& bytes, Page page);
QByteArray encode(const QString& text, Page page);

} // namespace text
