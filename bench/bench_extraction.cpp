// The extraction benchmark's tool.
//
//   bench_extraction prepare <folder>      a deterministic update archive (2,000 files, about 280 MB,
//                                          half Cyrillic text, half incompressible, 20 folders)
//   bench_extraction extract <archive> <folder> [--no-flush]
//                                          extracts through the archive layer alone, to show what the
//                                          flush before the renames costs

#include "app/update_archive.h"
#include "demo/kit_archive.h"
#include "platform/zip_archive.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QRandomGenerator>
#include <QTextStream>

#include <cstdio>

namespace {

constexpr int fileCount = 2000;
constexpr int folderCount = 20;
constexpr qint64 averageSize = 140 * 1024; // 2,000 files of about 140 KiB: about 280 MB

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

int prepare(const QString& folder) {
    QDir(folder).removeRecursively();
    const QString sources = folder + QStringLiteral("/sources/");
    QRandomGenerator random(20220310);
    QList<ArchiveEntry> entries;
    qint64 total = 0;
    for (int i = 0; i < fileCount; ++i) {
        const qint64 size = averageSize / 2 + qint64(random.bounded(int(averageSize)));
        const bool text = i % 2 == 0;
        const QString name = QStringLiteral("Сорвентия/Папка %1/%2 %3.%4")
                                 .arg(i % folderCount, 2, 10, QLatin1Char('0'))
                                 .arg(text ? QStringLiteral("Документ") : QStringLiteral("Данные"))
                                 .arg(i, 4, 10, QLatin1Char('0'))
                                 .arg(text ? QStringLiteral("txt") : QStringLiteral("bin"));
        const QString source = sources + QString::number(i);
        writeFile(source, text ? textContent(random, size) : randomContent(random, size));
        ArchiveEntry entry;
        entry.rawName = oemName(name);
        entry.sourceFile = source;
        entries.append(entry);
        total += size;
    }
    writeArchive(folder + QStringLiteral("/res_ad.zip"), entries, updateArchivePassword());
    QDir(sources).removeRecursively();
    QTextStream(stdout) << "prepared " << fileCount << " files, " << total / 1000000 << " MB, archive "
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

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication application(argc, argv);
    const QStringList args = application.arguments();
    try {
        if (args.size() == 3 && args[1] == QStringLiteral("prepare"))
            return prepare(QDir(args[2]).absolutePath());
        if ((args.size() == 4 || args.size() == 5) && args[1] == QStringLiteral("extract"))
            return extract(args[2], args[3], !(args.size() == 5 && args[4] == QStringLiteral("--no-flush")));
    } catch (const std::exception& error) {
        std::fprintf(stderr, "bench_extraction: %s\n", error.what());
        return 1;
    }
    std::fputs("usage: bench_extraction prepare <folder> | extract <archive> <folder> [--no-flush]\n",
               stderr);
    return 2;
}
