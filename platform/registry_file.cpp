#include "platform/registry_file.h"

#include "platform/abandoned_lock.h"
#include "platform/atomic_file.h"
#include "platform/error.h"
#include "platform/registry_file_format.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>

namespace {

// Waiting for another writer: regedit-sized files take milliseconds to write.
constexpr int lockTimeoutMs = 10000;

// Reads the file; a missing file is an empty registry.
std::optional<QByteArray> readFile(const QString& path) {
    QFile file(path);
    if (!file.exists())
        return std::nullopt;
    if (!file.open(QIODevice::ReadOnly))
        throw Error(QStringLiteral("The registry file %1 cannot be opened: %2")
                        .arg(path, file.errorString())
                        .toStdString());
    return file.readAll();
}

regfile::Document load(const QString& path) {
    const std::optional<QByteArray> bytes = readFile(path);
    return bytes ? regfile::parse(*bytes, path) : regfile::Document{};
}

} // namespace

RegistryFile::RegistryFile(QString path)
    : m_path(std::move(path)) {}

registry::Lookup RegistryFile::lookup(const QString& section, const QString& name) const {
    return regfile::lookup(load(m_path), regfile::sectionKeyPath(section), name);
}

void RegistryFile::writeString(const QString& section, const QString& name, const QString& text) {
    const QString keyPath = regfile::sectionKeyPath(section);
    bool keyExisted = false;
    const auto refuse = [&] {
        throw Error(keyExisted ? registry::failedToSetDataMessage(toU16(name))
                               : registry::failedToCreateKeyMessage(toU16(section)));
    };

    // A folder made for the registry is the user's alone, like the file.
    const QString folder = QFileInfo(m_path).absolutePath();
    if (!QFileInfo(folder).isDir()) {
        QDir().mkpath(QFileInfo(folder).absolutePath());
        if (!QDir().mkdir(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner))
            refuse();
    }

    QLockFile lock(m_path + QStringLiteral(".lock"));
    if (!lockPastAbandoned(lock, QDeadlineTimer(lockTimeoutMs), LiveOwner::Waited))
        refuse();

    // Every writer holds the lock, so a temporary file of ours is a killed writer's.
    AtomicFile::removeLeftoversOf(m_path);
    regfile::Document document = load(m_path); // a damaged file raises here and stays as it is
    keyExisted = regfile::keyExists(document, keyPath);
    const std::vector<std::uint8_t> data = registry::stringData(toU16(text));
    regfile::setValue(document, keyPath, name, registry::RegSz,
                      QByteArray(reinterpret_cast<const char*>(data.data()), qsizetype(data.size())));
    try {
        writeFileAtomically(m_path, regfile::serialize(document));
    } catch (const Error&) {
        refuse();
    }
}
