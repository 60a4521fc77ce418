// The extraction benchmark's tool.
//
//   bench_extraction prepare <folder> <shape> [--quick]
//                                          a deterministic update archive <folder>/res_ad.zip of one
//                                          shape (fixed seeds; --quick: a tenth of the size):
//                                            files  2,000 files of 20-180 KB, half Cyrillic text, half
//                                                   random bytes, in 20 folders (about 200 MB)
//                                            small  20,000 files of 1-8 KB, nine in ten text, in 200
//                                                   folders (about 90 MB)
//                                            large  one 400 MB file, half text, half random
//   bench_extraction extract <archive> <folder> [--no-flush]
//                                          extracts through the archive layer alone, to show what the
//                                          flush before the renames costs
//   bench_extraction read <archive> libzip|inline|pipelined
//                                          reads the archive's largest item into nothing and prints
//                                          its MB/s: libzip's zip_fread against the item reader
#include "app/update_archive.h"
#include "archive/zip_archive.h"
#include "archive/zip_item_reader.h"
#include "support/kit_archive.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QRandomGenerator>
#include <QTextStream>

#include <cstdio>
#include <ctime>
#include <zip.h>

using archive::ItemReading;
using archive::readZipItem;
using archive::ZipArchive;

namespace {

const QStringList words = {
    QStringLiteral("обновление"), QStringLiteral("программы"), QStringLiteral("Сорвентия"),
    QStringLiteral("водитель"),   QStringLiteral("категория"), QStringLiteral("учебный"),
    QStringLiteral("план"),       QStringLiteral("вождение"),  QStringLiteral("автошкола"),
    QStringLiteral("справка"),    QStringLiteral("группа"),    QStringLiteral("студент"),
    QStringLiteral("инструктор"), QStringLiteral("документ"),  QStringLiteral("экзамен"),
    QStringLiteral("military"),   QStringLiteral("driver"),    QStringLiteral("3.7"),
};

QByteArray textContent(QRandomGenerator& random, qint64 size) {
    QByteArray out;
    out.reserve(size + 64);
    while (out.size() < size) {
        out += words[int(random.bounded(words.size()))].toUtf8();
        out += random.bounded(12) == 0 ? '\n' : ' ';
    }
    out.truncate(size);
    return out;
}

QByteArray randomContent(QRandomGenerator& random, qint64 size) {
    QByteArray out(size, Qt::Uninitialized);
    for (qint64 i = 0; i + 4 <= size; i += 4) {
        const quint32 v = random.generate();
        std::memcpy(out.data() + i, &v, 4);
    }
    return out;
}

void writeFile(const QString& path, const QByteArray& bytes) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size())
        throw std::runtime_error("cannot write " + path.toStdString());
}

struct Shape {
    int files;
    int folders;
    qint64 minSize;
    qint64 maxSize;
    int textInTen; // files of ten that hold text; the others random bytes
    quint32 seed;
};

// One file of `size` bytes: the first half text, the rest random, written a MiB at a time.
void writeHalfAndHalf(const QString& path, qint64 size, QRandomGenerator& random) {
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        throw std::runtime_error("cannot write " + path.toStdString());
    for (qint64 done = 0; done < size;) {
        const qint64 piece = std::min<qint64>(1 << 20, size - done);
        const QByteArray bytes = done < size / 2 ? textContent(random, piece) : randomContent(random, piece);
        if (file.write(bytes) != bytes.size())
            throw std::runtime_error("cannot write " + path.toStdString());
        done += piece;
    }
}

int prepare(const QString& folder, const QString& shapeName, bool quick) {
    QDir(folder).removeRecursively();
    const QString sources = folder + QStringLiteral("/sources/");
    QDir().mkpath(sources);
    const int divisor = quick ? 10 : 1;
    QList<ArchiveEntry> entries;
    qint64 total = 0;
    if (shapeName == QStringLiteral("large")) {
        QRandomGenerator random(20240400);
        const qint64 size = 400'000'000 / divisor;
        const QString source = sources + QStringLiteral("large");
        writeHalfAndHalf(source, size, random);
        ArchiveEntry entry;
        entry.rawName = oemName(QStringLiteral("Сорвентия/База/Справочник.dat"));
        entry.sourceFile = source;
        entries.append(entry);
        total = size;
    } else {
        Shape shape;
        if (shapeName == QStringLiteral("files"))
            shape = {2000, 20, 20 * 1024, 180 * 1024, 5, 20220310};
        else if (shapeName == QStringLiteral("small"))
            shape = {20000, 200, 1024, 8 * 1024, 9, 20240020};
        else
            throw std::runtime_error("unknown shape " + shapeName.toStdString());
        shape.files /= divisor;
        QRandomGenerator random(shape.seed);
        for (int i = 0; i < shape.files; ++i) {
            const qint64 size =
                shape.minSize + qint64(random.bounded(int(shape.maxSize - shape.minSize + 1)));
            const bool text = i % 10 < shape.textInTen;
            const QString name = QStringLiteral("Сорвентия/Папка %1/%2 %3.%4")
                                     .arg(i % shape.folders, 3, 10, QLatin1Char('0'))
                                     .arg(text ? QStringLiteral("Документ") : QStringLiteral("Данные"))
                                     .arg(i, 5, 10, QLatin1Char('0'))
                                     .arg(text ? QStringLiteral("txt") : QStringLiteral("bin"));
            const QByteArray content = text ? textContent(random, size) : randomContent(random, size);
            ArchiveEntry entry;
            entry.rawName = oemName(name);
            // Small files stay in memory: libzip would hold a descriptor for each source file.
            if (shape.maxSize <= 64 * 1024) {
                entry.data = content;
            } else {
                entry.sourceFile = sources + QString::number(i);
                writeFile(entry.sourceFile, content);
            }
            entries.append(entry);
            total += size;
        }
    }
    writeArchive(folder + QStringLiteral("/res_ad.zip"), entries, updateArchivePassword());
    QDir(sources).removeRecursively();
    QTextStream(stdout) << "prepared " << shapeName << ": " << entries.size() << " files, " << total / 1000000
                        << " MB, archive "
                        << QFileInfo(folder + QStringLiteral("/res_ad.zip")).size() / 1000000 << " MB"
                        << Qt::endl;
    return 0;
}

int extract(const QString& archive, const QString& folder, bool flush) {
    ZipArchive zip;
    zip.setFlushBuffers(flush);
    zip.setFileName(archive);
    zip.setPassword(updateArchivePassword());
    QElapsedTimer timer;
    timer.start();
    zip.OpenArchive();
    zip.setBaseDir(QDir(folder).absolutePath() + u'/');
    zip.ExtractFiles(QStringLiteral("*.*"), ZipArchive::anyFileAttributes);
    zip.CloseArchive();
    QTextStream(stdout) << timer.elapsed() / 1000.0 << Qt::endl;
    return 0;
}

// Reads the largest item into nothing: the stages of reading one item, without the disk.
int read(const QString& archivePath, const QString& way) {
    int code = 0;
    zip_t* archive = zip_open(QFile::encodeName(archivePath).constData(), ZIP_RDONLY, &code);
    if (!archive)
        throw std::runtime_error("cannot open " + archivePath.toStdString());
    zip_uint64_t largest = 0;
    zip_uint64_t largestSize = 0;
    for (zip_int64_t i = 0; i < zip_get_num_entries(archive, 0); ++i) {
        zip_stat_t st;
        if (zip_stat_index(archive, zip_uint64_t(i), 0, &st) == 0 && st.size >= largestSize) {
            largest = zip_uint64_t(i);
            largestSize = st.size;
        }
    }
    quint64 bytes = 0;
    QElapsedTimer timer;
    timer.start();
    // Processor time of all threads: with two stages on two cores it exceeds the wall time.
    const std::clock_t cpuStart = std::clock();
    if (way == QStringLiteral("libzip")) {
        zip_file_t* file =
            zip_fopen_index_encrypted(archive, largest, 0, updateArchivePassword().constData());
        if (!file)
            throw std::runtime_error(zip_strerror(archive));
        std::vector<char> buffer(256 * 1024);
        zip_int64_t n;
        while ((n = zip_fread(file, buffer.data(), buffer.size())) > 0)
            bytes += quint64(n);
        if (n < 0 || zip_fclose(file) != 0)
            throw std::runtime_error("libzip could not read the item");
    } else {
        const ItemReading reading =
            way == QStringLiteral("inline") ? ItemReading::InLine : ItemReading::Pipelined;
        readZipItem(
            archive, largest, updateArchivePassword(), QStringLiteral("item"),
            [&](const char*, size_t size) { bytes += size; }, reading);
    }
    const double seconds = double(timer.nsecsElapsed()) / 1e9;
    const double cpu = double(std::clock() - cpuStart) / CLOCKS_PER_SEC;
    zip_discard(archive);
    std::printf("%-9s %.0f MB in %.2f s, %.0f MB/s (processor %.2f s)\n", qPrintable(way + u':'),
                double(bytes) / 1e6, seconds, double(bytes) / 1e6 / seconds, cpu);
    return 0;
}

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication application(argc, argv);
    const QStringList args = application.arguments();
    try {
        if ((args.size() == 4 || args.size() == 5) && args[1] == QStringLiteral("prepare"))
            return prepare(QDir(args[2]).absolutePath(), args[3],
                           args.size() == 5 && args[4] == QStringLiteral("--quick"));
        if (args.size() == 4 && args[1] == QStringLiteral("read"))
            return read(args[2], args[3]);
        if ((args.size() == 4 || args.size() == 5) && args[1] == QStringLiteral("extract"))
            return extract(args[2], args[3], !(args.size() == 5 && args[4] == QStringLiteral("--no-flush")));
    } catch (const std::exception& error) {
        std::fprintf(stderr, "bench_extraction: %s\n", error.what());
        return 1;
    }
    std::fputs("usage: bench_extraction prepare <folder> files|small|large [--quick]\n"
               "       bench_extraction extract <archive> <folder> [--no-flush]\n"
               "       bench_extraction read <archive> libzip|inline|pipelined\n",
               stderr);
    return 2;
}
