#include "archive/zip_archive.h"

#include "archive/archive_errors.h"
#include "archive/extraction_transaction.h"
#include "archive/zip_item_reader.h"
#include "base/error.h"
#include "text/codepage.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QThread>

#include <zip.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <limits>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#ifndef _WIN32
#include <sys/stat.h>
#endif

using base::Error;

namespace archive {

namespace {

constexpr quint32 dosReadOnly = 0x01;
constexpr quint32 dosHidden = 0x02;
constexpr quint32 dosSystem = 0x04;
constexpr quint32 dosVolume = 0x08;
constexpr quint32 dosDirectory = 0x10;

// Items staged at once. Each worker holds the archive and one new file open, so the descriptors of
// an extraction stay far below 64 whatever the archive.
constexpr int maxWorkers = 8;
// Each reader of the archive holds its own copy of the central directory, some hundreds of bytes an
// item: for archives of many items fewer workers keep the memory within bounds.
constexpr quint64 directoryBudget = 48 * 1024 * 1024;
constexpr quint64 directoryBytesPerItem = 512;

int workersFor(qsizetype items) {
    const quint64 affordable =
        std::max<quint64>(1, directoryBudget / (quint64(items) * directoryBytesPerItem + 1));
    return int(std::min<quint64>({quint64(std::clamp(QThread::idealThreadCount(), 1, maxWorkers)), affordable,
                                  quint64(std::max<qsizetype>(items, 1))}));
}

[[noreturn]] void fail(const QString& message) {
    throw Error(message.toStdString());
}

zip* openZip(const QString& fileName) {
    int code = 0;
    errno = 0;
    zip* archive = zip_open(QFile::encodeName(fileName).constData(), ZIP_RDONLY, &code);
    if (!archive) {
        const int system = errno;
        zip_error_t error;
        zip_error_init_with_code(&error, code);
        const bool fromSystem = zip_error_system_type(&error) == ZIP_ET_SYS;
        zip_error_fini(&error);
        fail(zipErrorText(code, fromSystem ? system : 0, QDir::toNativeSeparators(fileName)));
    }
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
    return text::decode(QByteArray(raw), text::Page::Oem);
}

bool isControl(QChar c) {
    return c.unicode() < 0x20 || c.unicode() == 0x7F;
}

// A name with its control characters spelled out, so that it stays on its one line.
QString withVisibleControls(const QString& name) {
    QString shown;
    for (const QChar c : name) {
        if (!isControl(c))
            shown += c;
        else if (c == u'\n')
            shown += QStringLiteral("\\n");
        else if (c == u'\r')
            shown += QStringLiteral("\\r");
        else if (c == u'\t')
            shown += QStringLiteral("\\t");
        else
            shown +=
                QStringLiteral("\\x") + QString::number(c.unicode(), 16).rightJustified(2, u'0').toUpper();
    }
    return shown;
}

// Why an item must not be written, or nothing.
std::optional<ExtractionFault> unsafeReason(const QString& name, bool symlink) {
    if (std::any_of(name.begin(), name.end(), isControl))
        return ExtractionFault::ControlCharacter;
    if (symlink || name.startsWith(u'/') || name.startsWith(u'\\'))
        return ExtractionFault::UnsafeName;
    static const QRegularExpression drive(QStringLiteral("^[A-Za-z]:"));
    if (drive.match(name).hasMatch())
        return ExtractionFault::UnsafeName;
    static const QRegularExpression separators(QStringLiteral("[/\\\\]"));
    const QStringList segments = name.split(separators, Qt::SkipEmptyParts);
    if (segments.contains(QStringLiteral("..")))
        return ExtractionFault::UnsafeName;
    const auto kept = std::find_if(segments.begin(), segments.end(),
                                   [](const QString& segment) { return segment != QStringLiteral("."); });
    if (kept != segments.end() &&
        kept->startsWith(ExtractionTransaction::reservedPrefix(), Qt::CaseInsensitive))
        return ExtractionFault::ReservedName;
    return std::nullopt;
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

// What the new file of an item gets: the stored Unix bits less what the umask withholds, or for a
// DOS item read-only or writable as the system makes new files (then a replaced file keeps its own).
ExtractionTransaction::Item transactionItem(const ZipArchive::Item& item, int umask) {
    ExtractionTransaction::Item result;
    result.relativePath = item.relativePath;
    result.folder = item.folder;
    result.mtime = item.mtime;
    if (item.unixMode >= 0) {
        result.mode = unsigned(item.unixMode & ~umask) & 0777;
    } else {
        const unsigned base = 0666u & ~unsigned(umask);
        const bool readOnly = item.dosAttributes & dosReadOnly;
        result.mode = readOnly ? base & ~0222u : base;
        result.keepReplacedMode = !readOnly;
    }
    return result;
}

// The share done as a whole percentage, in integers whatever sizes the archive claims.
quint64 percentDone(quint64 done, quint64 total) {
    if (total == 0 || done >= total)
        return 100;
    if (done <= std::numeric_limits<quint64>::max() / 100)
        return done * 100 / total;
    return done / (total / 100);
}

// Sizes as the archive claims them, which may lie: a sum never wraps around.
quint64 sum(quint64 a, quint64 b) {
    return a > std::numeric_limits<quint64>::max() - b ? std::numeric_limits<quint64>::max() : a + b;
}

// One item as a worker left it.
struct Slot {
    enum class State { Pending, Done, Failed } state = State::Pending;
    QString error;
    std::atomic<quint64> written{0};
};

struct Stopped {};

// Stages the items on every core at once (each worker with its own reader of the archive); the
// caller takes them in archive order.
class Extraction {
public:
    // `opened` is the caller's reader of the archive, lent to the first worker.
    Extraction(zip* opened, const QString& fileName, const QByteArray& password,
               const QList<ZipArchive::Item>& items, ExtractionTransaction& transaction)
        : m_opened(opened)
        , m_fileName(fileName)
        , m_password(password)
        , m_items(items)
        , m_transaction(transaction)
        , m_slots(size_t(items.size())) {}

    ~Extraction() { stop(); }

    void start() {
        const int count = m_items.isEmpty() ? 0 : workersFor(m_items.size());
        for (int i = 0; i < count; ++i)
            m_workers.emplace_back([this, i] { work(i == 0 ? m_opened : nullptr); });
    }

    void stop() {
        m_stop = true;
        for (std::thread& worker : m_workers)
            if (worker.joinable())
                worker.join();
        m_workers.clear();
    }

    // Waits for item `k`, calling `tick` while it is under way.
    Slot& wait(size_t k, const std::function<void()>& tick) {
        Slot& slot = m_slots[k];
        std::unique_lock lock(m_mutex);
        while (slot.state == Slot::State::Pending) {
            lock.unlock();
            tick();
            lock.lock();
            m_ready.wait_for(lock, std::chrono::milliseconds(20),
                             [&] { return slot.state != Slot::State::Pending; });
        }
        return slot;
    }

    quint64 written(size_t k) const { return m_slots[k].written.load(); }

private:
    void work(zip* lent) {
        zip* archive = lent;
        QString openError;
        try {
            if (!archive)
                archive = openZip(m_fileName);
        } catch (const Error& error) {
            openError = QString::fromUtf8(error.what());
        }
        while (!m_stop) {
            const size_t k = m_next++;
            if (k >= m_slots.size())
                break;
            Slot& slot = m_slots[k];
            QString error = openError;
            if (error.isEmpty()) {
                try {
                    stage(archive, k, slot);
                } catch (const Stopped&) {
                    error = QStringLiteral("stopped");
                } catch (const std::exception& e) {
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
        if (archive && archive != lent)
            zip_discard(archive);
    }

    void stage(zip* archive, size_t k, Slot& slot) {
        const ZipArchive::Item& item = m_items[qsizetype(k)];
        if (item.folder)
            return;
        m_transaction.stage(k, [&](ExtractionTransaction::Writer& writer) {
            readZipItem(archive, item.index, m_password, displayName(item.storedName),
                        [&](const char* data, std::size_t size) {
                            if (m_stop)
                                throw Stopped();
                            writer.write(data, size);
                            slot.written += quint64(size);
                        });
        });
    }

    zip* const m_opened;
    const QString m_fileName;
    const QByteArray m_password;
    const QList<ZipArchive::Item>& m_items;
    ExtractionTransaction& m_transaction;
    std::vector<Slot> m_slots;
    std::vector<std::thread> m_workers;
    std::atomic<size_t> m_next{0};
    std::atomic<bool> m_stop{false};
    std::mutex m_mutex;
    std::condition_variable m_ready;
};

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
        std::optional<ExtractionFault> why = unsafeReason(item.storedName, symlink);
        if (!why && item.relativePath.isEmpty() && !item.folder)
            why = ExtractionFault::NamelessItem;
        if (why) {
            zip_discard(archive);
            fail(extractionFaultText(*why, withVisibleControls(item.storedName)));
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
        fail(QStringLiteral("Архив не открыт"));
    QList<Item> admitted;
    quint64 total = 0;
    for (const Item& item : m_items) {
        const QString name = item.relativePath.section(u'/', -1);
        if ((item.folder || matchesMask(mask, name)) && passesFilter(item.dosAttributes, attributeFilter)) {
            admitted.append(item);
            total = sum(total, item.size);
        }
    }

    // What a killed run left goes first: its changes are finished or undone.
    ExtractionTransaction::recover(m_baseDir);
    ExtractionTransaction transaction(m_baseDir, m_flushBuffers);
    std::vector<ExtractionTransaction::Item> planned;
    planned.reserve(size_t(admitted.size()));
    const int umask = processUmask();
    for (const Item& item : admitted)
        planned.push_back(transactionItem(item, umask));
    transaction.begin(std::move(planned));

    const auto overall = [&](quint64 done) {
        if (m_events.overallProgress)
            m_events.overallProgress(double(percentDone(done, total)));
    };
    Extraction extraction(m_zip, m_fileName, m_password, admitted, transaction);
    try {
        extraction.start();
        quint64 done = 0;
        overall(0);
        for (size_t k = 0; k < size_t(admitted.size()); ++k) {
            const Item& item = admitted[qsizetype(k)];
            const QString shown = displayName(item.storedName);
            if (m_events.extractFile)
                m_events.extractFile(shown);
            const Slot& slot = extraction.wait(k, [&] {
                const quint64 written = extraction.written(k);
                if (m_events.fileProgress)
                    m_events.fileProgress(
                        shown, item.size ? double(std::min(written, item.size)) / double(item.size) : 0.0);
                overall(sum(done, std::min(written, item.size)));
            });
            if (slot.state == Slot::State::Failed)
                fail(slot.error);
            done = sum(done, item.size);
            if (m_events.fileProgress)
                m_events.fileProgress(shown, 1.0);
            overall(done);
        }
        extraction.stop();
        transaction.commit();
    } catch (const std::exception& error) {
        extraction.stop();
        if (!transaction.rollback())
            fail(QString::fromUtf8(error.what()) + QStringLiteral(". ") +
                 extractionFaultText(ExtractionFault::RollbackFailed, QDir::toNativeSeparators(m_baseDir)));
        throw ExtractionRolledBack(error.what());
    }
}

} // namespace archive
