#include "registry/registry_file.h"

#include "base/error.h"
#include "base/system_error.h"
#include "filesystem/abandoned_lock.h"
#include "filesystem/atomic_file.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLockFile>

#include <algorithm>
#include <cerrno>

#include <sys/stat.h>
#include <unistd.h>

using base::errnoText;
using base::Error;
using filesystem::AtomicFile;
using filesystem::LiveOwner;
using filesystem::lockPastAbandoned;
using filesystem::writeFileAtomically;

namespace registry {

namespace {

// Waiting for another writer: regedit-sized files take milliseconds to write.
constexpr int lockTimeoutMs = 10000;
// As many links as the system follows in one path.
constexpr int maxLinks = 40;

[[noreturn]] void cannotOpen(const QString& path, const QString& reason) {
    throw Error(registry::parseErrorText(ParseError::CannotOpen, path, 0, reason).toStdString());
}

// Reads the file; a missing file is an empty registry.
std::optional<QByteArray> readFile(const QString& path) {
    QFile file(path);
    if (!file.exists())
        return std::nullopt;
    if (QFileInfo(path).isDir())
        cannotOpen(path, QString::fromStdString(errnoText(EISDIR)));
    errno = 0;
    if (!file.open(QIODevice::ReadOnly)) {
        const int code = errno;
        cannotOpen(path, code != 0 ? QString::fromStdString(errnoText(code)) : file.errorString());
    }
    return file.readAll();
}

// A fast digest, not a cryptographic one: it tells a changed file from the one read, nothing more.
class Digest {
public:
    void add(QByteArrayView bytes) {
        m_hash = qHashBits(bytes.data(), size_t(bytes.size()), m_hash);
        m_size += bytes.size();
    }
    RegistryFile::Identity identity() const {
        return {true, QByteArray::number(quint64(m_hash), 16) + u':' + QByteArray::number(m_size)};
    }

private:
    size_t m_hash = 0x52454746; // any seed
    qint64 m_size = 0;
};

constexpr qsizetype digestPiece = 1 << 20;

RegistryFile::Identity identityOf(const QByteArray& bytes) {
    Digest digest;
    for (qsizetype at = 0; at < bytes.size(); at += digestPiece)
        digest.add(QByteArrayView(bytes).sliced(at, std::min(digestPiece, bytes.size() - at)));
    return digest.identity();
}

// Read in pieces, so that telling whether the file changed costs no memory.
RegistryFile::Identity identityOf(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    Digest digest;
    QByteArray piece(digestPiece, Qt::Uninitialized);
    // Whole pieces, as identityOf(bytes) takes them, however the reads come.
    for (bool end = false; !end;) {
        qint64 filled = 0;
        while (filled < piece.size()) {
            const qint64 read = file.read(piece.data() + filled, piece.size() - filled);
            if (read < 0)
                return {};
            if (read == 0) {
                end = true;
                break;
            }
            filled += read;
        }
        if (filled > 0)
            digest.add(QByteArrayView(piece.constData(), filled));
    }
    return digest.identity();
}

Document load(const QString& path, RegistryFile::Identity* identity = nullptr) {
    std::optional<QByteArray> bytes = readFile(path);
    if (identity)
        *identity = bytes ? identityOf(*bytes) : RegistryFile::Identity{};
    return bytes ? registry::parse(std::move(*bytes), path) : Document{};
}

// The registry refuses writes to a file its owner may not write, as it does to a read-only key,
// even where the system would let root replace it.
bool writable(const QString& path) {
    struct stat st {};
    const QByteArray name = QFile::encodeName(path);
    if (::stat(name.constData(), &st) != 0)
        return errno == ENOENT;
    return (st.st_mode & S_IWUSR) != 0 && ::access(name.constData(), W_OK) == 0;
}

} // namespace

RegistryFile::RegistryFile(QString path)
    : m_path(std::move(path)) {}

QString RegistryFile::target() const {
    QString path = m_path;
    for (int i = 0; i < maxLinks; ++i) {
        const QFileInfo info(path);
        if (!info.isSymLink())
            break;
        path = info.symLinkTarget();
    }
    return path;
}

void RegistryFile::beginOperation() {
    ++m_operations;
}

void RegistryFile::endOperation() {
    if (m_operations > 0 && --m_operations == 0)
        m_snapshot.reset();
}

const Document& RegistryFile::snapshotOf(const QString& path) const {
    if (!m_snapshot || m_snapshot->path != path || m_snapshot->identity != identityOf(path)) {
        m_snapshot.reset();
        Identity identity;
        Document document = load(path, &identity);
        m_snapshot = Snapshot{path, identity, std::move(document)};
    }
    return m_snapshot->document;
}

native::Lookup RegistryFile::lookup(const QString& section, const QString& name) const {
    const QString path = target();
    const QString keyPath = registry::sectionKeyPath(section);
    if (m_operations == 0)
        return registry::lookup(load(path), keyPath, name);
    return registry::lookup(snapshotOf(path), keyPath, name);
}

void RegistryFile::writeString(const QString& section, const QString& name, const QString& text) {
    const QString path = target();
    const QString keyPath = registry::sectionKeyPath(section);
    bool keyExisted = false;
    const auto refuse = [&] {
        throw Error(keyExisted ? native::failedToSetDataMessage(toU16(name))
                               : native::failedToCreateKeyMessage(toU16(section)));
    };

    // A folder made for the registry is the user's alone, like the file.
    const QString folder = QFileInfo(path).absolutePath();
    if (!QFileInfo(folder).isDir()) {
        QDir().mkpath(QFileInfo(folder).absolutePath());
        if (!QDir().mkdir(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner))
            refuse();
    }

    QLockFile lock(path + QStringLiteral(".lock"));
    if (!lockPastAbandoned(lock, QDeadlineTimer(lockTimeoutMs), LiveOwner::Waited))
        refuse();

    // Every writer holds the lock, so a temporary file of ours is a killed writer's.
    AtomicFile::removeLeftoversOf(path);
    // A damaged file raises here and stays as it is.
    Document document;
    if (m_snapshot && m_snapshot->path == path && m_snapshot->identity == identityOf(path))
        document = std::move(m_snapshot->document);
    else
        document = load(path);
    m_snapshot.reset();
    keyExisted = registry::keyExists(document, keyPath);
    if (!writable(path))
        refuse();
    const std::vector<std::uint8_t> data = native::stringData(toU16(text));
    registry::setValue(document, keyPath, name, native::RegSz,
                       QByteArray(reinterpret_cast<const char*>(data.data()), qsizetype(data.size())));
    const QByteArray bytes = registry::serialize(document);
    try {
        writeFileAtomically(path, bytes);
    } catch (const Error&) {
        refuse();
    }
    if (m_operations > 0)
        m_snapshot = Snapshot{path, identityOf(bytes), std::move(document)};
}

} // namespace registry
