#include "platform/zip_archive.h"

#include "platform/atomic_file.h"
#include "platform/codepage.h"
#include "platform/error.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QThread>

#include <zip.h>

#include <atomic>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

#ifndef _WIN32
#include <sys/stat.h>
#endif

namespace {

constexpr quint32 dosReadOnly = 0x01;
constexpr quint32 dosHidden = 0x02;
constexpr quint32 dosSystem = 0x04;
constexpr quint32 dosVolume = 0x08;
constexpr quint32 dosDirectory = 0x10;

[[noreturn]] void fail(const QString& message) {
    throw Error(message.toStdString());
}

QString zipErrorText(int code) {
    zip_error_t error;
    zip_error_init_with_code(&error, code);
    const QString text = QString::fromUtf8(zip_error_strerror(&error));
    zip_error_fini(&error);
    return text;
}

zip* openZip(const QString& fileName) {
    int code = 0;
    zip* archive = zip_open(QFile::encodeName(fileName).constData(), ZIP_RDONLY, &code);
    if (!archive)
        fail(QStringLiteral("%1: %2").arg(QDir::toNativeSeparators(fileName), zipErrorText(code)));
    return archive;
}

bool isAscii(const char* text) {
    for (; *text; ++text)
        if (static_cast<unsigned char>(*text) >= 0x80)
            return false;
    return true;
}

// The stored name: raw bytes in the OEM code page, unless the item's UTF-8 flag is set. libzip hides
// that flag; a strict read returns a flagged name unchanged and converts any other from CP437.
QString decodeName(zip* archive, zip_uint64_t index) {
    const char* raw = zip_get_name(archive, index, ZIP_FL_ENC_RAW);
    if (!raw)
        return QString();
    if (isAscii(raw))
        return QString::fromLatin1(raw);
    const char* strict = zip_get_name(archive, index, ZIP_FL_ENC_STRICT);
    if (strict && std::strcmp(raw, strict) == 0)
        return QString::fromUtf8(raw);
    return codepage::decode(QByteArray(raw), codepage::Page::Oem);
}

// Why an item must not be written, or an empty text.
QString unsafeReason(const QString& name, bool symlink) {
    if (symlink)
        return QStringLiteral("is a symbolic link");
    if (name.startsWith(u'/') || name.startsWith(u'\\'))
        return QStringLiteral("has an absolute path");
    static const QRegularExpression drive(QStringLiteral("^[A-Za-z]:"));
    if (drive.match(name).hasMatch())
        return QStringLiteral("names a drive");
    static const QRegularExpression separators(QStringLiteral("[/\\\\]"));
    if (name.split(separators).contains(QStringLiteral("..")))
        return QStringLiteral("climbs out of the extraction folder");
    return QString();
}

QString relativePathOf(const QString& name) {
    static const QRegularExpression separators(QStringLiteral("[/\\\\]"));
    QStringList kept;
    for (const QString& segment : name.split(separators))
        if (!segment.isEmpty() && segment != QStringLiteral("."))
            kept.append(segment);
    return kept.join(u'/');
}

QString displayName(const QString& storedName) {
    QString name = storedName;
    name.replace(u'/', QDir::separator());
    name.replace(u'\\', QDir::separator());
    return name;
}

// DOS masks: "*.*" admits every name, also those without a dot.
bool matchesMask(const QString& mask, const QString& fileName) {
    if (mask == QStringLiteral("*.*") || mask == QStringLiteral("*"))
        return true;
    const QRegularExpression re(QRegularExpression::wildcardToRegularExpression(mask),
                                QRegularExpression::CaseInsensitiveOption);
    return re.match(fileName).hasMatch();
}

bool passesFilter(quint32 attributes, quint32 filter) {
    for (quint32 bit : {dosHidden, dosSystem, dosVolume, dosDirectory})
        if ((attributes & bit) && !(filter & bit))
            return false;
    return true;
}

QFileDevice::Permissions permissionsOf(int unixMode) {
    QFileDevice::Permissions p;
    const std::pair<int, QFileDevice::Permission> map[] = {
        {0400, QFileDevice::ReadOwner}, {0200, QFileDevice::WriteOwner}, {0100, QFileDevice::ExeOwner},
        {0040, QFileDevice::ReadGroup}, {0020, QFileDevice::WriteGroup}, {0010, QFileDevice::ExeGroup},
        {0004, QFileDevice::ReadOther}, {0002, QFileDevice::WriteOther}, {0001, QFileDevice::ExeOther},
    };
    for (const auto& [bit, flag] : map)
        if (unixMode & bit)
            p |= flag;
    return p;
}

#ifndef _WIN32
int processUmask() {
    static const int mask = [] {
        const mode_t m = ::umask(022);
        ::umask(m);
        return int(m);
    }();
    return mask;
}
#else
int processUmask() {
    return 0;
}
#endif

// One item as a worker left it: its temporary file ready to be renamed, or the reason it failed.
struct Slot {
    enum class State { Pending, Done, Failed } state = State::Pending;
    std::unique_ptr<AtomicFile> file;
    QString error;
    std::atomic<quint64> written{0};
};

class Extraction {
public:
    Extraction(const QString& fileName, const QByteArray& password, const QString& baseDir,
               const QList<ZipArchive::Item>& items)
        : m_fileName(fileName)
        , m_password(password)
        , m_baseDir(baseDir)
        , m_items(items)
        , m_slots(size_t(items.size()))
        , m_umask(processUmask()) {}

    ~Extraction() { stop(); }

    void start() {
        const int wanted = std::max(1, QThread::idealThreadCount());
        const int count = int(std::min<qsizetype>(wanted, m_items.size()));
        for (int i = 0; i < count; ++i)
            m_workers.emplace_back([this] { work(); });
    }

    void stop() {
        m_stop = true;
        for (std::thread& worker : m_workers)
            if (worker.joinable())
                worker.join();
        m_workers.clear();
    }

    // Waits for item `k`, calling `tick` with its progress while it is under way.
    Slot& wait(size_t k, const std::function<void(double)>& tick) {
        Slot& slot = m_slots[k];
        std::unique_lock lock(m_mutex);
        while (slot.state == Slot::State::Pending) {
            lock.unlock();
            const quint64 size = m_items[qsizetype(k)].size;
            tick(size ? double(slot.written.load()) / double(size) : 0.0);
            lock.lock();
            m_ready.wait_for(lock, std::chrono::milliseconds(20),
                             [&] { return slot.state != Slot::State::Pending; });
        }
        return slot;
    }

    quint64 written(size_t k) const { return m_slots[k].written.load(); }

private:
    void work() {
        zip* archive = nullptr;
        QString openError;
        try {
            archive = openZip(m_fileName);
        } catch (const Error& error) {
            openError = QString::fromUtf8(error.what());
        }
        std::vector<char> buffer(256 * 1024);
        while (!m_stop) {
            const size_t k = m_next++;
            if (k >= m_slots.size())
                break;
            Slot& slot = m_slots[k];
            QString error = openError;
            if (error.isEmpty()) {
                try {
                    extract(archive, m_items[qsizetype(k)], slot, buffer);
                } catch (const Error& e) {
                    error = QString::fromUtf8(e.what());
                }
            }
            {
                std::lock_guard lock(m_mutex);
                slot.error = error;
                slot.state = error.isEmpty() ? Slot::State::Done : Slot::State::Failed;
            }
            m_ready.notify_all();
        }
        if (archive)
            zip_discard(archive);
    }

    void extract(zip* archive, const ZipArchive::Item& item, Slot& slot, std::vector<char>& buffer) {
        const QString target = m_baseDir + QDir::toNativeSeparators(item.relativePath);
        const QString shown = displayName(item.storedName);
        if (item.folder) {
            if (!QDir().mkpath(target))
                fail(QStringLiteral("Cannot create the folder %1").arg(QDir::toNativeSeparators(target)));
            return;
        }
        const QString folder = QFileInfo(target).absolutePath();
        if (!QFileInfo(folder).isDir() && !QDir().mkpath(folder))
            fail(QStringLiteral("Cannot create the folder %1").arg(QDir::toNativeSeparators(folder)));

        auto file = std::make_unique<AtomicFile>(target);
        file->open();
        zip_file_t* entry = zip_fopen_index_encrypted(
            archive, item.index, 0, m_password.isEmpty() ? nullptr : m_password.constData());
        if (!entry)
            fail(QStringLiteral("%1: %2").arg(shown, QString::fromUtf8(zip_strerror(archive))));
        // libzip tells a damaged item only on the read after its last byte.
        for (;;) {
            if (m_stop) {
                zip_fclose(entry);
                return;
            }
            const zip_int64_t n = zip_fread(entry, buffer.data(), buffer.size());
            if (n < 0) {
                const QString why = QString::fromUtf8(zip_file_strerror(entry));
                zip_fclose(entry);
                fail(QStringLiteral("%1: %2").arg(shown, why));
            }
            if (n == 0)
                break;
            try {
                file->write(buffer.data(), n);
            } catch (const Error&) {
                zip_fclose(entry); // a full disk must not leak the item's reader
                throw;
            }
            slot.written += quint64(n);
        }
        const int closed = zip_fclose(entry);
        if (closed != 0)
            fail(QStringLiteral("%1: %2").arg(shown, zipErrorText(closed)));

        if (item.unixMode >= 0) {
            // As stored, less what the user's umask withholds from new files.
            file->setMode(permissionsOf(item.unixMode & ~m_umask), true);
        } else {
            // A DOS item: read-only, or writable as the system makes new files.
            const int base = 0666 & ~m_umask;
            const bool readOnly = item.dosAttributes & dosReadOnly;
            file->setMode(permissionsOf(readOnly ? base & ~0222 : base), readOnly);
        }
        if (item.mtime >= 0)
            file->setModificationTime(item.mtime);
        slot.file = std::move(file);
    }

    const QString m_fileName;
    const QByteArray m_password;
    const QString m_baseDir;
    const QList<ZipArchive::Item> m_items;
    std::vector<Slot> m_slots;
    // Read before any worker runs: reading the umask sets it for a moment, and a folder or file a
    // worker made in that moment would get the wrong permissions.
    const int m_umask;
    std::vector<std::thread> m_workers;
    std::atomic<size_t> m_next{0};
    std::atomic<bool> m_stop{false};
    std::mutex m_mutex;
    std::condition_variable m_ready;
};

// Flushes the finished files together, then renames each over its target in archive order.
void commitAll(std::vector<std::unique_ptr<AtomicFile>>& files, bool flush) {
    std::vector<AtomicFile*> batch;
    for (auto& file : files)
        batch.push_back(file.get());
    if (flush)
        AtomicFile::flushTogether(batch);
    std::set<QString> folders;
    for (auto& file : files) {
        file->commit(false);
        folders.insert(QFileInfo(file->target()).absolutePath());
    }
    if (flush)
        for (const QString& folder : folders)
            AtomicFile::flushFolder(folder);
    files.clear();
}

} // namespace

ZipArchive::ZipArchive() = default;

ZipArchive::~ZipArchive() {
    CloseArchive();
}

void ZipArchive::OpenArchive() {
    CloseArchive();
    zip* archive = openZip(m_fileName);
    QList<Item> items;
    const zip_int64_t count = zip_get_num_entries(archive, 0);
    for (zip_int64_t i = 0; i < count; ++i) {
        Item item;
        item.index = zip_uint64_t(i);
        item.storedName = decodeName(archive, item.index);
        zip_stat_t st;
        zip_stat_init(&st);
        if (zip_stat_index(archive, item.index, 0, &st) == 0) {
            if (st.valid & ZIP_STAT_SIZE)
                item.size = st.size;
            if (st.valid & ZIP_STAT_MTIME)
                item.mtime = qint64(st.mtime);
        }
        zip_uint8_t system = 0;
        zip_uint32_t attributes = 0;
        bool symlink = false;
        if (zip_file_get_external_attributes(archive, item.index, 0, &system, &attributes) == 0) {
            item.dosAttributes = attributes & 0xFF;
            if (system == ZIP_OPSYS_UNIX) {
                const quint32 mode = attributes >> 16;
                const quint32 type = mode & 0170000;
                symlink = type == 0120000;
                if (type == 0040000)
                    item.dosAttributes |= dosDirectory;
                if (mode != 0)
                    item.unixMode = int(mode & 0777);
            }
        }
        item.folder = item.storedName.endsWith(u'/') || item.storedName.endsWith(u'\\') ||
                      (item.dosAttributes & dosDirectory);
        item.relativePath = relativePathOf(item.storedName);
        QString why = unsafeReason(item.storedName, symlink);
        if (why.isEmpty() && item.relativePath.isEmpty() && !item.folder)
            why = QStringLiteral("has no name");
        if (!why.isEmpty()) {
            zip_discard(archive);
            fail(QStringLiteral("The archive item \"%1\" %2; nothing was extracted")
                     .arg(item.storedName, why));
        }
        items.append(item);
    }
    m_zip = archive;
    m_items = items;
}

void ZipArchive::CloseArchive() {
    if (m_zip)
        zip_discard(m_zip);
    m_zip = nullptr;
    m_items.clear();
}

void ZipArchive::ExtractFiles(const QString& mask, quint32 attributeFilter) {
    if (!m_zip)
        fail(QStringLiteral("The archive is not open"));
    QList<Item> admitted;
    quint64 total = 0;
    for (const Item& item : m_items) {
        const QString name = item.relativePath.section(u'/', -1);
        if ((item.folder || matchesMask(mask, name)) && passesFilter(item.dosAttributes, attributeFilter)) {
            admitted.append(item);
            total += item.size;
        }
    }

    // Temporary files that a killed run left in the folders this archive writes to.
    std::set<QString> folders;
    for (const Item& item : admitted)
        folders.insert(QFileInfo(m_baseDir + QDir::toNativeSeparators(item.relativePath)).absolutePath());
    for (const QString& folder : folders)
        AtomicFile::removeLeftovers(folder);

    const auto overall = [&](quint64 done) {
        if (m_events.overallProgress)
            m_events.overallProgress(total ? 100.0 * double(done) / double(total) : 100.0);
    };

    Extraction extraction(m_fileName, m_password, m_baseDir, admitted);
    extraction.start();
    std::vector<std::unique_ptr<AtomicFile>> finished;
    quint64 done = 0;
    overall(0);
    for (size_t k = 0; k < size_t(admitted.size()); ++k) {
        const Item& item = admitted[qsizetype(k)];
        const QString shown = displayName(item.storedName);
        if (m_events.extractFile)
            m_events.extractFile(shown);
        Slot& slot = extraction.wait(k, [&](double progress) {
            if (m_events.fileProgress)
                m_events.fileProgress(shown, progress);
            overall(done + extraction.written(k));
        });
        if (slot.state == Slot::State::Failed) {
            extraction.stop();
            commitAll(finished, m_flushBuffers);
            fail(slot.error);
        }
        if (slot.file)
            finished.push_back(std::move(slot.file));
        done += item.size;
        if (m_events.fileProgress)
            m_events.fileProgress(shown, 1.0);
        overall(done);
    }
    extraction.stop();
    commitAll(finished, m_flushBuffers);
}
