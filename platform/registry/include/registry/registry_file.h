#pragma once

#include "registry/registry.h"
#include "registry/registry_file_format.h"

#include <optional>

namespace registry {

// The registry kept in a file of regedit's export format, for systems without a Windows registry.
// Outside an operation every read takes the file afresh; inside one, the file is parsed once and
// parsed again only when its bytes have changed. Every write locks the file (a lock file beside it), takes
// it afresh unless unchanged, changes the one value and replaces the file through a flushed
// temporary file, so that two writers lose nothing and a crash leaves the old file whole. A file
// that cannot be parsed is never written. A file that is a symbolic link is read and written
// through the link: the link stays, the file it names changes. A file without its owner's write
// permission refuses every write, whoever runs the program.
class RegistryFile final : public Registry {
public:
    explicit RegistryFile(QString path);

    const QString& path() const { return m_path; }
    void writeString(const QString& section, const QString& name, const QString& text) override;
    native::Lookup lookup(const QString& section, const QString& name) const override;
    void beginOperation() override;
    void endOperation() override;

    // One state of the file: a digest of its bytes, since the file's times are too coarse to tell
    // two quick writes apart.
    struct Identity {
        bool exists = false;
        QByteArray digest;
        bool operator==(const Identity&) const = default;
    };

private:
    struct Snapshot {
        QString path;
        Identity identity;
        Document document;
    };
    // The file the path names, through any links.
    QString target() const;
    const Document& snapshotOf(const QString& target) const;

    QString m_path;
    int m_operations = 0;
    mutable std::optional<Snapshot> m_snapshot;
};

} // namespace registry
