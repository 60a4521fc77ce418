#include "base/error.h"
#include "support/system_facilities.h"
#include "text/text_lines.h"

#include <QDir>
#include <QFile>
#include <QStringDecoder>
#include <QTemporaryDir>
#include <QTest>

using base::Error;

namespace {

QByteArray utf16(const QString& text, QStringConverter::Encoding encoding) {
    QStringEncoder encoder(encoding);
    return encoder.encode(text);
}

} // namespace

class TestTextLines : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void decode_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QStringList>("lines");
        const QString cyrillic = QStringLiteral("doc\\Оплата\\Акт №1.doc");
        const QByteArray cyrillic1251("doc\\\xCE\xEF\xEB\xE0\xF2\xE0\\\xC0\xEA\xF2 \xB9\x31.doc");

        QTest::newRow("empty") << QByteArray() << QStringList();
        QTest::newRow("one line without break") << QByteArray("a") << QStringList{"a"};
        QTest::newRow("break at the end adds no line") << QByteArray("a\r\nb\r\n") << QStringList{"a", "b"};
        QTest::newRow("lone break is one empty line") << QByteArray("\n") << QStringList{""};
        QTest::newRow("empty lines kept") << QByteArray("a\n\n\nb") << QStringList{"a", "", "", "b"};
        QTest::newRow("CR LF, LF and CR") << QByteArray("a\r\nb\nc\rd") << QStringList{"a", "b", "c", "d"};
        QTest::newRow("LF CR is two breaks") << QByteArray("a\n\rb") << QStringList{"a", "", "b"};
        QTest::newRow("CR CR LF") << QByteArray("a\r\r\nb") << QStringList{"a", "", "b"};
        QTest::newRow("nothing trimmed") << QByteArray(" a \r\n\t\r\n;b") << QStringList{" a ", "\t", ";b"};
        QTest::newRow("NUL ends the text") << QByteArray("a\nb\0c\nd", 7) << QStringList{"a", "b"};
        QTest::newRow("NUL first") << QByteArray("\0a", 2) << QStringList();
        QTest::newRow("ANSI 1251") << cyrillic1251 + "\r\nx" << QStringList{cyrillic, "x"};
        QTest::newRow("UTF-8 mark") << QByteArray("\xEF\xBB\xBF") + cyrillic.toUtf8() + "\n"
                                    << QStringList{cyrillic};
        QTest::newRow("UTF-8 without mark is ANSI")
            << QByteArray("\xD0\x90") << QStringList{QStringLiteral("\u0420\u0452")};
        QTest::newRow("mark only") << QByteArray("\xEF\xBB\xBF") << QStringList();
        // Only the mark goes: a second one is the first character of the first line.
        QTest::newRow("UTF-8 mark twice") << QByteArray("\xEF\xBB\xBF\xEF\xBB\xBF") + "keep.txt"
                                          << QStringList{QStringLiteral("\uFEFFkeep.txt")};
        QTest::newRow("UTF-16LE mark twice")
            << QByteArray("\xFF\xFE\xFF\xFE") + utf16("a", QStringConverter::Utf16LE)
            << QStringList{QStringLiteral("\uFEFFa")};
        QTest::newRow("UTF-16BE mark twice")
            << QByteArray("\xFE\xFF\xFE\xFF") + utf16("a", QStringConverter::Utf16BE)
            << QStringList{QStringLiteral("\uFEFFa")};
        QTest::newRow("UTF-16LE mark")
            << QByteArray("\xFF\xFE") +
                   utf16(cyrillic + QStringLiteral("\r\nb\rc\n"), QStringConverter::Utf16LE)
            << QStringList{cyrillic, "b", "c"};
        QTest::newRow("UTF-16BE mark")
            << QByteArray("\xFE\xFF") + utf16(cyrillic + QStringLiteral("\nb"), QStringConverter::Utf16BE)
            << QStringList{cyrillic, "b"};
        QTest::newRow("UTF-16LE NUL ends the text")
            << QByteArray("\xFF\xFE") + utf16(QStringLiteral("a\nb"), QStringConverter::Utf16LE) +
                   QByteArray("\0\0c\0", 4)
            << QStringList{"a", "b"};
        // Only the NUL code unit ends it, not a zero byte inside a character.
        QTest::newRow("UTF-16LE zero bytes inside characters")
            << QByteArray("\xFF\xFE") + utf16(QStringLiteral("\u0100\n\u0041"), QStringConverter::Utf16LE)
            << QStringList{QStringLiteral("\u0100"), "A"};
        QTest::newRow("UTF-16LE odd last byte") << QByteArray("\xFF\xFE"
                                                              "a\0b",
                                                              5)
                                                << QStringList{QStringLiteral("a\uFFFD")};
    }
    void decode() {
        QFETCH(QByteArray, bytes);
        QFETCH(QStringList, lines);
        QCOMPARE(text::decodeLines(bytes), lines);
    }

    void load() {
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("files.txt"));
        QFile file(path);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("\xFF\xFE"
                   "a\0\r\0\n\0",
                   8);
        file.close();
        QCOMPARE(text::loadLines(path), QStringList{"a"});
    }

    // Anything but a regular file of at most 16 MiB is refused at once, a named pipe that no one
    // writes and an endless device included.
    void loadFailureIsAnError_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("reason");
        QTest::newRow("missing") << "missing.txt" << QString();
        QTest::newRow("a folder") << "folder" << QString();
        QTest::newRow("a named pipe") << "fifo" << QStringLiteral("Это не обычный файл");
        QTest::newRow("a link to /dev/zero") << "zero" << QStringLiteral("Это не обычный файл");
        QTest::newRow("over 16 MiB") << "large" << QStringLiteral("Файл больше 16777216 байт");
    }
    void loadFailureIsAnError() {
        QFETCH(QString, name);
        QFETCH(QString, reason);
        if (name == u"fifo" || name == u"zero")
            SKIP_UNLESS_POSIX("named pipes and /dev/zero are POSIX-only");
        QTemporaryDir dir;
        QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("folder")));
        if (system_facilities::posix) {
            QVERIFY(system_facilities::makeFifo(dir.filePath(QStringLiteral("fifo"))));
            QVERIFY(QFile::link(QStringLiteral("/dev/zero"), dir.filePath(QStringLiteral("zero"))));
        }
        QFile large(dir.filePath(QStringLiteral("large")));
        QVERIFY(large.open(QIODevice::WriteOnly) && large.resize(text::maxFileSize + 1));
        large.close();
        const QString path = dir.filePath(name);
        try {
            text::loadLines(path);
            QFAIL("no error");
        } catch (const Error& error) {
            const QString text = QString::fromUtf8(error.what());
            QVERIFY2(
                text.startsWith(
                    QStringLiteral("Не удаётся открыть файл \"%1\". ").arg(QDir::toNativeSeparators(path))),
                error.what());
            QVERIFY2(text.endsWith(reason), error.what());
        }
    }

    // The largest list there may be is read whole.
    void loadAtTheLimit() {
        QTemporaryDir dir;
        QFile file(dir.filePath(QStringLiteral("files.txt")));
        QVERIFY(file.open(QIODevice::WriteOnly));
        QVERIFY(file.write("a\r\nb") == 4 && file.resize(text::maxFileSize));
        file.close();
        QCOMPARE(text::loadLines(file.fileName()), (QStringList{"a", "b"}));
    }
};

QTEST_APPLESS_MAIN(TestTextLines)
#include "test_text_lines.moc"
