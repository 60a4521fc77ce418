#pragma once

#include "platform/registry.h"

// The registry kept in a file of regedit's export format, for systems without a Windows registry.
// Every read takes the file afresh; every write locks it (a lock file beside it), reads it afresh,
// changes the one value and replaces the file through a flushed temporary file, so that two writers
// lose nothing and a crash leaves the old file whole. A file that cannot be parsed is never written.
class RegistryFile final : public Registry {
public:
    explicit RegistryFile(QString path);

    const QString& path() const { return m_path; }
    void writeString(const QString& section, const QString& name, const QString& text) override;
    registry::Lookup lookup(const QString& section, const QString& name) const override;

private:
    QString m_path;
};
