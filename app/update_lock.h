#pragma once

#include <QLockFile>
#include <QString>

#include <memory>

// One updater at a time per extraction folder, whatever the user or the mode. The lock lives in the
// user's runtime or temporary folder, so that nothing is written into the kit for it.
QString updateLockPath(const QString& extractionFolder);
// The held lock, or nothing when another updater holds it.
std::unique_ptr<QLockFile> lockUpdateOf(const QString& extractionFolder);
