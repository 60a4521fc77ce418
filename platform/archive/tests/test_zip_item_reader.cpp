#include "archive/archive_errors.h"
#include "archive/zip_item_reader.h"
#include "base/error.h"
#include "support/archive_items.h"
#include "support/kit_archive.h"

#include <QFile>
#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>

#include <zip.h>

#include <cstring>
#include <memory>
#include <optional>

using archive::ItemReading;
using archive::readZipItem;
using archive::zipErrorText;
using base::Error;

Q_DECLARE_METATYPE(ItemReading)

namespace {

// Cyrillic text followed by incompressible bytes: both kinds of deflate block in one item.
QByteArray mixedContent(qsizetype size) {
    QByteArray out;
    const QByteArray line = QStringLiteral("Сорвентия: учебный план, вождение, экзамен 3.7\n").toUtf8();
    while (out.size() < size / 2)
        out += line;
    out.truncate(size / 2);
    QRandomGenerator random(42);
    while (out.size() < size)
        out += char(random.bounded(256));
    return out;
}

struct OpenArchive {
    zip_t* archive = nullptr;
    explicit OpenArchive(const QString& path) {
        int code = 0;
        archive = zip_open(QFile::encodeName(path).constData(), ZIP_RDONLY, &code);
    }
    ~OpenArchive() {
        if (archive)
            zip_discard(archive);
    }
};

// What libzip's own reader gives for item 0, or nothing when it reports an error.
std::optional<QByteArray> readByLibzip(const QString& path, const QByteArray& password) {
    OpenArchive open(path);
    if (!open.archive)
        return std::nullopt;
    zip_file_t* file = zip_fopen_index_encrypted(open.archive, 0, 0, password.constData());
    if (!file)
        return std::nullopt;
    QByteArray out;
    char buffer[65536];
    zip_int64_t n;
    while ((n = zip_fread(file, buffer, sizeof buffer)) > 0)
        out.append(buffer, qsizetype(n));
    const bool failed = n < 0;
    if (zip_fclose(file) != 0 || failed)
        return std::nullopt;
    return out;
}

struct Read {
    QByteArray bytes;
    QString error; // empty when the item was read
};

// The name the errors carry.
const QString shownName = QStringLiteral("docs\\item.bin");

QString errorText(int zipCode) {
    return zipErrorText(zipCode, 0, shownName);
}

Read readByReader(const QString& path, const QByteArray& password, ItemReading reading) {
    Read result;
    OpenArchive open(path);
    if (!open.archive) {
        result.error = QStringLiteral("zip_open failed");
        return result;
    }
    try {
        readZipItem(
            open.archive, 0, password, shownName,
            [&](const char* data, size_t size) { result.bytes.append(data, qsizetype(size)); }, reading);
    } catch (const Error& error) {
        result.error = QString::fromUtf8(error.what());
    }
    return result;
}

QByteArray readFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void writeFile(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(file.write(bytes), bytes.size());
}

// The one item's central directory record, for patching its stored fields.
qsizetype centralRecord(const QByteArray& archive) {
    return archive.lastIndexOf(QByteArray("PK\x01\x02", 4));
}

quint32 field32(const QByteArray& bytes, qsizetype at) {
    quint32 v;
    std::memcpy(&v, bytes.constData() + at, 4);
    return qFromLittleEndian(v);
}

void setField32(QByteArray& bytes, qsizetype at, quint32 value) {
    const quint32 v = qToLittleEndian(value);
    std::memcpy(bytes.data() + at, &v, 4);
}

} // namespace

class TestZipItemReader : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;
    QString archive() const { return m_dir.filePath(QStringLiteral("item.zip")); }

    void writeItem(const QByteArray& content, bool compress, bool encrypt = true) {
        ArchiveEntry entry = fileEntry(QStringLiteral("Папка/файл.bin"), content);
        entry.compress = compress;
        entry.encrypt = encrypt;
        writeArchive(archive(), {entry}, archivePassword());
    }

    static void addReadings() { QTest::addColumn<ItemReading>("reading"); }

private Q_SLOTS:
    // Both ways of reading give what libzip gives and what was stored, over several blocks too.
    void readsWhatLibzipReads_data() {
        QTest::addColumn<QByteArray>("content");
        QTest::addColumn<bool>("compress");
        QTest::addColumn<bool>("encrypt");
        QTest::addColumn<ItemReading>("reading");
        const QByteArray large = mixedContent(5 * 1024 * 1024 + 123);
        const QByteArray small = mixedContent(70000);
        for (const auto& [reading, name] :
             {std::pair{ItemReading::InLine, "in line"}, std::pair{ItemReading::Pipelined, "pipelined"}}) {
            const QByteArray way(name);
            QTest::newRow(way + ", deflated, large") << large << true << true << reading;
            QTest::newRow(way + ", stored, large") << large << false << true << reading;
            QTest::newRow(way + ", deflated, small") << small << true << true << reading;
            QTest::newRow(way + ", stored, small") << small << false << true << reading;
            QTest::newRow(way + ", deflated, empty") << QByteArray() << true << true << reading;
            QTest::newRow(way + ", stored, empty") << QByteArray() << false << true << reading;
            QTest::newRow(way + ", deflated, not encrypted") << small << true << false << reading;
        }
        QTest::newRow("automatic, large") << large << true << true << ItemReading::Automatic;
    }
    void readsWhatLibzipReads() {
        QFETCH(QByteArray, content);
        QFETCH(bool, compress);
        QFETCH(bool, encrypt);
        QFETCH(ItemReading, reading);
        writeItem(content, compress, encrypt);
        const Read read = readByReader(archive(), archivePassword(), reading);
        QCOMPARE(read.error, QString());
        QVERIFY(read.bytes == content);
        const std::optional<QByteArray> libzip = readByLibzip(archive(), archivePassword());
        QVERIFY(libzip);
        QVERIFY(read.bytes == *libzip);
    }

    // A wrong password never reads as success; the header's check byte refuses all but about one in
    // 128 wrong passwords before any byte reaches the sink.
    void wrongPasswordIsRefused_data() {
        addReadings();
        QTest::newRow("in line") << ItemReading::InLine;
        QTest::newRow("pipelined") << ItemReading::Pipelined;
    }
    void wrongPasswordIsRefused() {
        QFETCH(ItemReading, reading);
        writeItem(mixedContent(100000), true);
        int refusedByCheck = 0;
        for (int i = 0; i < 20; ++i) {
            const Read read = readByReader(archive(), "wrong password " + QByteArray::number(i), reading);
            QVERIFY(!read.error.isEmpty());
            if (read.error == errorText(ZIP_ER_WRONGPASSWD)) {
                QVERIFY(read.bytes.isEmpty());
                ++refusedByCheck;
            }
        }
        QVERIFY(refusedByCheck >= 15);
        QCOMPARE(readByReader(archive(), QByteArray(), reading).error, errorText(ZIP_ER_NOPASSWD));
    }

    // Damaged items fail with libzip and with the reader alike, whichever way it reads.
    void damagedItemsFail_data() {
        QTest::addColumn<QString>("damage");
        QTest::addColumn<bool>("compress");
        QTest::addColumn<ItemReading>("reading");
        QTest::addColumn<QStringList>("errors"); // any of these
        QTest::addColumn<bool>("libzipNotices");
        const QString crc = errorText(ZIP_ER_CRC);
        const QString broken = errorText(ZIP_ER_ZLIB);
        const QString cut = errorText(ZIP_ER_EOF);
        const QString size = errorText(ZIP_ER_INCONS);
        for (const auto& [reading, name] :
             {std::pair{ItemReading::InLine, "in line"}, std::pair{ItemReading::Pipelined, "pipelined"}}) {
            const QByteArray way(name);
            QTest::newRow(way + ", flipped byte, stored")
                << "flip" << false << reading << QStringList{crc} << true;
            // Decryption turns everything after the flip into noise: inflate or the CRC notices.
            QTest::newRow(way + ", flipped byte, deflated")
                << "flip" << true << reading << QStringList{crc, broken, size} << true;
            QTest::newRow(way + ", cut short, stored")
                << "cut" << false << reading << QStringList{size} << true;
            QTest::newRow(way + ", cut short, deflated")
                << "cut" << true << reading << QStringList{cut, broken} << true;
            // libzip hands out the shorter data as if it were whole.
            QTest::newRow(way + ", larger size, deflated")
                << "size" << true << reading << QStringList{size} << false;
            QTest::newRow(way + ", other CRC, deflated")
                << "crc" << true << reading << QStringList{crc} << true;
        }
    }
    void damagedItemsFail() {
        QFETCH(QString, damage);
        QFETCH(bool, compress);
        QFETCH(ItemReading, reading);
        QFETCH(QStringList, errors);
        QFETCH(bool, libzipNotices);
        writeItem(mixedContent(3 * 1024 * 1024), compress);
        QByteArray bytes = readFile(archive());
        const qsizetype central = centralRecord(bytes);
        QVERIFY(central > 0);
        if (damage == QStringLiteral("flip")) {
            // Well inside the item's data, past the local header, its name and extra field.
            const qsizetype at = 30 + (uchar(bytes[26]) | uchar(bytes[27]) << 8) +
                                 (uchar(bytes[28]) | uchar(bytes[29]) << 8) + 100000;
            bytes[at] = char(bytes[at] ^ 0x10);
        } else if (damage == QStringLiteral("cut")) {
            setField32(bytes, central + 20, field32(bytes, central + 20) / 2);
        } else if (damage == QStringLiteral("size")) {
            setField32(bytes, central + 24, field32(bytes, central + 24) + 1);
        } else {
            setField32(bytes, central + 16, field32(bytes, central + 16) ^ 0x00010000);
        }
        writeFile(archive(), bytes);
        QCOMPARE(!readByLibzip(archive(), archivePassword()), libzipNotices);
        const Read read = readByReader(archive(), archivePassword(), reading);
        QVERIFY2(errors.contains(read.error), qPrintable(read.error));
    }

    // A sink that fails ends the reading at once, also with the second thread under way.
    void sinkErrorPassesUp_data() {
        addReadings();
        QTest::newRow("in line") << ItemReading::InLine;
        QTest::newRow("pipelined") << ItemReading::Pipelined;
    }
    void sinkErrorPassesUp() {
        QFETCH(ItemReading, reading);
        writeItem(mixedContent(8 * 1024 * 1024), false);
        OpenArchive open(archive());
        QVERIFY(open.archive);
        int calls = 0;
        try {
            readZipItem(
                open.archive, 0, archivePassword(), shownName,
                [&](const char*, size_t) {
                    if (++calls == 2)
                        throw Error("Недостаточно места на диске");
                },
                reading);
            QFAIL("the sink's error was lost");
        } catch (const Error& error) {
            QCOMPARE(QString::fromUtf8(error.what()), QStringLiteral("Недостаточно места на диске"));
        }
        QCOMPARE(calls, 2);
    }
};

QTEST_GUILESS_MAIN(TestZipItemReader)
#include "test_zip_item_reader.moc"
