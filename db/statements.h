#pragma once

#include <QString>

namespace db {

// A text value as the steps write it into a statement: in single quotes, every single quote inside
// doubled.
QString quoted(const QString& value);

} // namespace db
