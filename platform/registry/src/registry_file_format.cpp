#include "registry/registry_file_format.h"

#include "base/error.h"

#include <QStringDecoder>
#include <QSysInfo>

#include <algorithm>

using base::Error;

namespace registry {

namespace {

const QString header = QStringLiteral("Windows Registry Editor Version 5.00");

// The reason of each error, worded as regedit's own messages on a Russian system.
QString reasonText(ParseError error) {
    switch (error) {
    case ParseError::CannotOpen:
        return QStringLiteral("не удается открыть файл");
    case ParseError::OddUtf16:
        return QStringLiteral("текст UTF-16 из нечетного числа байтов");
    case ParseError::NotUtf8:
        return QStringLiteral("текст не в кодировке UTF-8 или UTF-16LE");
    case ParseError::NoHeader:
        return QStringLiteral("первая строка не \"%1\"").arg(header);
    case ParseError::KeyNotClosed:
        return QStringLiteral("у имени раздела нет закрывающей скобки");
    case ParseError::ValueBeforeKey:
        return QStringLiteral("параметр стоит до первого раздела");
    case ParseError::ContinuedAtEnd:
        return QStringLiteral("продолжение параметра обрывается в конце файла");
    case ParseError::NotKeyValueOrComment:
        return QStringLiteral("строка не является ни разделом, ни параметром, ни комментарием");
    case ParseError::NameNotClosed:
        return QStringLiteral("у имени параметра нет закрывающей кавычки");
    case ParseError::NoEquals:
        return QStringLiteral("у параметра нет знака \"=\"");
    case ParseError::StringNotClosed:
        return QStringLiteral("строковое значение закрыто неправильно");
    case ParseError::BadDword:
        return QStringLiteral("значение dword не из 8 шестнадцатеричных цифр");
    case ParseError::BadHexType:
        return QStringLiteral("тип hex(...) не шестнадцатеричное число");
    case ParseError::UnknownValueForm:
        return QStringLiteral("значение неизвестного вида");
    case ParseError::BadByteList:
        return QStringLiteral("список байтов не из шестнадцатеричных байтов через запятую");
    }
    return {};
}

[[noreturn]] void fail(ParseError error, const QString& fileName, int line) {
    throw Error(parseErrorText(error, fileName, line).toStdString());
}

// Offset of the first byte that is not part of valid UTF-8, or -1.
qsizetype invalidUtf8At(const QByteArray& bytes, qsizetype from) {
    const auto* p = reinterpret_cast<const unsigned char*>(bytes.constData());
    const qsizetype n = bytes.size();
    for (qsizetype i = from; i < n;) {
        const unsigned char c = p[i];
        int extra;
        std::uint32_t min;
        if (c < 0x80) {
            ++i;
            continue;
        } else if ((c & 0xE0) == 0xC0) {
            extra = 1, min = 0x80;
        } else if ((c & 0xF0) == 0xE0) {
            extra = 2, min = 0x800;
        } else if ((c & 0xF8) == 0xF0) {
            extra = 3, min = 0x10000;
        } else {
            return i;
        }
        std::uint32_t cp = c & (0x3F >> extra);
        for (int k = 1; k <= extra; ++k) {
            if (i + k >= n || (p[i + k] & 0xC0) != 0x80)
                return i;
            cp = (cp << 6) | (p[i + k] & 0x3F);
        }
        if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
            return i;
        i += extra + 1;
    }
    return -1;
}

int lineOfOffset(const QByteArray& bytes, qsizetype offset) {
    return int(bytes.left(offset).count('\n')) + 1;
}

QString decode(const QByteArray& bytes, const QString& fileName, Encoding& encoding) {
    if (bytes.startsWith("\xFF\xFE")) {
        encoding = Encoding::Utf16LeBom;
        if (bytes.size() % 2 != 0)
            fail(ParseError::OddUtf16, fileName, 1);
        QString text(bytes.size() / 2 - 1, Qt::Uninitialized);
        const auto* p = reinterpret_cast<const uchar*>(bytes.constData());
        char16_t* out = reinterpret_cast<char16_t*>(text.data());
        for (qsizetype i = 2; i < bytes.size(); i += 2)
            out[i / 2 - 1] = char16_t(p[i] | (p[i + 1] << 8));
        return text;
    }
    qsizetype start = 0;
    encoding = Encoding::Utf8;
    if (bytes.startsWith("\xEF\xBB\xBF")) {
        encoding = Encoding::Utf8Bom;
        start = 3;
    }
    const qsizetype bad = invalidUtf8At(bytes, start);
    if (bad >= 0)
        fail(ParseError::NotUtf8, fileName, lineOfOffset(bytes, bad));
    // A second byte-order mark is text of the file, not to be dropped.
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::ConvertInitialBom);
    return utf8(QByteArrayView(bytes).sliced(start));
}

// The end of the physical line that starts at `from`: after its line feed, or the end of the text.
qsizetype physicalEnd(const QString& text, qsizetype from) {
    const qsizetype feed = text.indexOf(u'\n', from);
    return feed < 0 ? text.size() : feed + 1;
}

QStringView content(QStringView physical) {
    while (physical.endsWith(u'\n') || physical.endsWith(u'\r'))
        physical.chop(1);
    return physical;
}

// A value line as its parser reads it: the trimmed first line, each continuation's trimmed text in
// place of the backslash that announced it.
QString joined(QStringView raw) {
    qsizetype end = raw.indexOf(u'\n');
    end = end < 0 ? raw.size() : end + 1;
    QString text = content(raw.first(end)).trimmed().toString();
    while (text.endsWith(u'\\') && end < raw.size()) {
        const qsizetype from = end;
        const qsizetype feed = raw.indexOf(u'\n', from);
        end = feed < 0 ? raw.size() : feed + 1;
        text.chop(1);
        text.append(content(raw.sliced(from, end - from)).trimmed());
    }
    return text;
}

// Reads a quoted string starting at `pos` (on the opening quote); leaves `pos` after the closing one.
bool readQuoted(const QString& s, qsizetype& pos, QString& out) {
    out.clear();
    // Spans between escapes are copied whole.
    qsizetype start = pos + 1;
    for (qsizetype i = pos + 1; i < s.size(); ++i) {
        const QChar c = s[i];
        if (c == u'\\') {
            if (i + 1 >= s.size() || (s[i + 1] != u'\\' && s[i + 1] != u'"'))
                return false;
            out.append(QStringView(s).sliced(start, i - start));
            start = ++i; // the escaped character opens the next span
        } else if (c == u'"') {
            out.append(QStringView(s).sliced(start, i - start));
            pos = i + 1;
            return true;
        }
    }
    return false;
}

bool parseHexBytes(const QString& list, QByteArray& out) {
    const QList<QStringView> tokens = QStringView(list).split(u',');
    for (qsizetype i = 0; i < tokens.size(); ++i) {
        const QStringView token = tokens[i].trimmed();
        if (token.isEmpty()) {
            if (i == tokens.size() - 1)
                break; // a trailing comma, as regedit leaves before a line continuation
            return false;
        }
        if (token.size() > 2)
            return false;
        bool ok = false;
        const uint byte = token.toUInt(&ok, 16);
        if (!ok)
            return false;
        out.append(char(byte));
    }
    return true;
}

QString escaped(const QString& text) {
    QString out;
    out.reserve(text.size() + 2);
    out.append(u'"');
    for (QChar c : text) {
        if (c == u'\\' || c == u'"')
            out.append(u'\\');
        out.append(c);
    }
    out.append(u'"');
    return out;
}

QString nameText(const QString& name) {
    return name.isEmpty() ? QStringLiteral("@") : escaped(name);
}

QString formatHex(const QString& prefix, const QByteArray& data, const QString& lineBreak) {
    QString out = prefix;
    qsizetype width = prefix.size();
    for (qsizetype i = 0; i < data.size(); ++i) {
        QString byte = QStringLiteral("%1").arg(uchar(data[i]), 2, 16, QLatin1Char('0'));
        if (i + 1 < data.size())
            byte.append(u',');
        if (width + byte.size() > 77 && i > 0) {
            out.append(u'\\').append(lineBreak).append(QStringLiteral("  "));
            width = 2;
        }
        out.append(byte);
        width += byte.size();
    }
    return out;
}

QString formatValue(const QString& name, std::uint32_t type, const QByteArray& data,
                    const QString& lineBreak) {
    const QString left = nameText(name) + u'=';
    if (type == native::RegSz && data.size() % 2 == 0 && data.endsWith(QByteArray(2, '\0'))) {
        QString text;
        for (qsizetype i = 0; i + 2 < data.size(); i += 2)
            text.append(QChar(char16_t(uchar(data[i]) | (uchar(data[i + 1]) << 8))));
        if (!text.contains(u'\0') && !text.contains(u'\n') && !text.contains(u'\r'))
            return left + escaped(text) + lineBreak;
    }
    if (type == native::RegDword && data.size() == 4) {
        const quint32 v = quint32(uchar(data[0])) | quint32(uchar(data[1])) << 8 |
                          quint32(uchar(data[2])) << 16 | quint32(uchar(data[3])) << 24;
        return left + QStringLiteral("dword:%1").arg(v, 8, 16, QLatin1Char('0')) + lineBreak;
    }
    const QString prefix = left + (type == native::RegBinary ? QStringLiteral("hex:")
                                                             : QStringLiteral("hex(%1):").arg(type, 0, 16));
    return formatHex(prefix, data, lineBreak) + lineBreak;
}

struct ParsedValue {
    Line::Kind kind = Line::Kind::Value;
    QString name;
    std::uint32_t type = native::RegNone;
    QByteArray data;
};

// `text` is a value line joined from its continuations.
ParsedValue parseValue(const QString& text, const QString& fileName, int lineNo) {
    ParsedValue value;
    qsizetype pos = 0;
    if (text.startsWith(u'@')) {
        pos = 1;
    } else if (!readQuoted(text, pos, value.name)) {
        fail(ParseError::NameNotClosed, fileName, lineNo);
    }
    while (pos < text.size() && text[pos].isSpace())
        ++pos;
    if (pos >= text.size() || text[pos] != u'=')
        fail(ParseError::NoEquals, fileName, lineNo);
    ++pos;
    while (pos < text.size() && text[pos].isSpace())
        ++pos;
    const QStringView data = QStringView(text).sliced(pos);
    if (data.trimmed() == u"-") {
        value.kind = Line::Kind::DeleteValue;
        return value;
    }
    if (data.startsWith(u'"')) {
        QString string;
        qsizetype end = 0;
        if (!readQuoted(data.toString(), end, string) || !data.sliced(end).trimmed().isEmpty())
            fail(ParseError::StringNotClosed, fileName, lineNo);
        value.type = native::RegSz;
        value.data = QByteArray(reinterpret_cast<const char*>(string.utf16()), string.size() * 2) +
                     QByteArray(2, '\0');
        return value;
    }
    if (data.startsWith(u"dword:", Qt::CaseInsensitive)) {
        const QStringView digits = data.sliced(6).trimmed();
        bool ok = false;
        const quint32 v = digits.toUInt(&ok, 16);
        if (!ok || digits.size() > 8)
            fail(ParseError::BadDword, fileName, lineNo);
        value.type = native::RegDword;
        value.data = QByteArray(4, '\0');
        for (int i = 0; i < 4; ++i)
            value.data[i] = char((v >> (8 * i)) & 0xFF);
        return value;
    }
    qsizetype listStart = -1;
    if (data.startsWith(u"hex:", Qt::CaseInsensitive)) {
        value.type = native::RegBinary;
        listStart = 4;
    } else if (data.startsWith(u"hex(", Qt::CaseInsensitive)) {
        const qsizetype close = data.indexOf(u"):");
        bool ok = false;
        const QStringView digits = close > 4 ? data.sliced(4, close - 4) : QStringView();
        value.type = close > 4 && digits.size() <= 8 ? digits.toUInt(&ok, 16) : 0;
        if (!ok)
            fail(ParseError::BadHexType, fileName, lineNo);
        listStart = close + 2;
    } else {
        fail(ParseError::UnknownValueForm, fileName, lineNo);
    }
    if (!parseHexBytes(data.sliced(listStart).toString(), value.data))
        fail(ParseError::BadByteList, fileName, lineNo);
    return value;
}

bool sameName(QStringView a, QStringView b) {
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

// A deletion of `deleted` removes `path` and every key below it.
bool deletes(QStringView deleted, QStringView path) {
    return sameName(deleted, path) || (path.size() > deleted.size() && path[deleted.size()] == u'\\' &&
                                       path.startsWith(deleted, Qt::CaseInsensitive));
}

QStringView keyPathView(QStringView raw) {
    const QStringView trimmed = content(raw).trimmed();
    const bool deletion = trimmed.startsWith(u"[-");
    return trimmed.sliced(deletion ? 2 : 1, trimmed.size() - (deletion ? 3 : 2));
}

Line ownLine(Document& document, Line::Kind kind, const QString& raw) {
    Line line;
    line.kind = kind;
    line.replaced = true;
    line.offset = document.replacements.size();
    line.length = raw.size();
    document.replacements.append(raw);
    return line;
}

// Bytes of `text` in UTF-8, counted without encoding it.
qsizetype utf8Size(QStringView text) {
    qsizetype size = 0;
    for (const QChar c : text) {
        const char16_t u = c.unicode();
        size += u < 0x80 ? 1 : u < 0x800 ? 2 : QChar::isSurrogate(u) ? 2 : 3;
    }
    return size;
}

} // namespace

QString parseErrorText(ParseError error, const QString& fileName, int line, const QString& detail) {
    if (error == ParseError::CannotOpen)
        return QStringLiteral("Не удается открыть файл реестра %1: %2").arg(fileName, detail);
    return QStringLiteral("Не удается прочитать файл реестра %1: строка %2: %3")
        .arg(fileName, QString::number(line), reasonText(error));
}

QStringView Document::raw(const Line& line) const {
    if (line.replaced)
        return replacements[line.offset];
    return QStringView(text).sliced(line.offset, line.length);
}

QString sectionKeyPath(const QString& section) {
    return QStringLiteral("HKEY_CURRENT_USER\\Software\\") + section;
}

QString keyPathOf(const Document& document, const Line& line) {
    return keyPathView(document.raw(line)).toString();
}

QString valueNameOf(const Document& document, const Line& line) {
    const QString text = joined(document.raw(line));
    QString name;
    qsizetype pos = 0;
    if (!text.startsWith(u'@'))
        readQuoted(text, pos, name);
    return name;
}

Document parse(QByteArray bytes, const QString& fileName) {
    Document document;
    document.text = decode(bytes, fileName, document.encoding);
    bytes = QByteArray();
    const QString& text = document.text;
    document.lines.reserve(size_t(text.count(u'\n')) + 1);
    bool breakSeen = false;
    bool headerSeen = false;
    bool inKey = false;
    int physical = 0;
    for (qsizetype pos = 0; pos < text.size();) {
        const int lineNo = ++physical;
        qsizetype end = physicalEnd(text, pos);
        if (!breakSeen && text[end - 1] == u'\n') {
            document.lineBreak =
                end >= 2 && text[end - 2] == u'\r' ? QStringLiteral("\r\n") : QStringLiteral("\n");
            breakSeen = true;
        }
        Line line;
        line.offset = pos;
        const QStringView trimmed = content(QStringView(text).sliced(pos, end - pos)).trimmed();
        if (trimmed.isEmpty()) {
            line.kind = Line::Kind::Blank;
        } else if (!headerSeen) {
            if (trimmed != header)
                fail(ParseError::NoHeader, fileName, lineNo);
            line.kind = Line::Kind::Header;
            headerSeen = true;
        } else if (trimmed.startsWith(u';')) {
            line.kind = Line::Kind::Comment;
        } else if (trimmed.startsWith(u'[')) {
            if (!trimmed.endsWith(u']'))
                fail(ParseError::KeyNotClosed, fileName, lineNo);
            line.kind = trimmed.startsWith(u"[-") ? Line::Kind::DeleteKey : Line::Kind::Key;
            inKey = true;
        } else if (trimmed.startsWith(u'"') || trimmed.startsWith(u'@')) {
            if (!inKey)
                fail(ParseError::ValueBeforeKey, fileName, lineNo);
            // A hex list goes on over the following lines while a line ends with a backslash.
            QString value = trimmed.toString();
            while (value.endsWith(u'\\')) {
                if (end >= text.size())
                    fail(ParseError::ContinuedAtEnd, fileName, lineNo);
                const qsizetype from = end;
                end = physicalEnd(text, from);
                ++physical;
                value.chop(1);
                value.append(content(QStringView(text).sliced(from, end - from)).trimmed());
            }
            line.kind = parseValue(value, fileName, lineNo).kind;
        } else {
            fail(ParseError::NotKeyValueOrComment, fileName, lineNo);
        }
        line.length = end - pos;
        document.lines.push_back(line);
        pos = end;
    }
    return document;
}

QByteArray serialize(const Document& document) {
    QByteArray out;
    if (document.encoding == Encoding::Utf16LeBom) {
        qsizetype size = 2;
        for (const Line& line : document.lines)
            size += line.length * 2;
        out.reserve(size);
        out.append("\xFF\xFE", 2);
        for (const Line& line : document.lines) {
            const QStringView raw = document.raw(line);
            if constexpr (QSysInfo::ByteOrder == QSysInfo::LittleEndian) {
                out.append(reinterpret_cast<const char*>(raw.utf16()), raw.size() * 2);
            } else {
                for (const QChar c : raw) {
                    out.append(char(c.unicode() & 0xFF));
                    out.append(char(c.unicode() >> 8));
                }
            }
        }
        return out;
    }
    // Unchanged lines lie one after the other in the text: each run of them is encoded at once.
    std::vector<QStringView> runs;
    for (const Line& line : document.lines) {
        const QStringView raw = document.raw(line);
        if (!runs.empty() && !line.replaced && runs.back().data() + runs.back().size() == raw.data())
            runs.back() = QStringView(runs.back().data(), runs.back().size() + raw.size());
        else
            runs.push_back(raw);
    }
    qsizetype size = document.encoding == Encoding::Utf8Bom ? 3 : 0;
    for (const QStringView run : runs)
        size += utf8Size(run);
    out.reserve(size);
    if (document.encoding == Encoding::Utf8Bom)
        out.append("\xEF\xBB\xBF");
    // Runs split at lines, never inside a surrogate pair, in pieces that keep the copies small.
    constexpr qsizetype piece = 1 << 20;
    for (QStringView run : runs) {
        while (!run.isEmpty()) {
            qsizetype take = std::min(piece, run.size());
            if (take < run.size() && run[take - 1].isHighSurrogate())
                ++take;
            out.append(run.first(take).toUtf8());
            run = run.sliced(take);
        }
    }
    return out;
}

native::Lookup lookup(const Document& document, const QString& keyPath, const QString& name) {
    native::Lookup found;
    qsizetype winner = -1;
    bool inKey = false;
    for (qsizetype i = 0; i < qsizetype(document.lines.size()); ++i) {
        const Line& line = document.lines[size_t(i)];
        switch (line.kind) {
        case Line::Kind::Key:
            inKey = sameName(keyPathView(document.raw(line)), keyPath);
            if (inKey)
                found.keyOpened = true;
            break;
        case Line::Kind::DeleteKey:
            if (deletes(keyPathView(document.raw(line)), keyPath)) {
                found.keyOpened = false;
                winner = -1;
            }
            inKey = false;
            break;
        case Line::Kind::Value:
        case Line::Kind::DeleteValue:
            if (inKey && sameName(valueNameOf(document, line), name))
                winner = line.kind == Line::Kind::Value ? i : -1;
            break;
        default:
            break;
        }
    }
    if (winner >= 0) {
        // The document parsed once already: this cannot fail.
        const ParsedValue value =
            parseValue(joined(document.raw(document.lines[size_t(winner)])), QString(), 0);
        found.valueExists = true;
        found.type = value.type;
        found.data.assign(value.data.begin(), value.data.end());
    }
    return found;
}

bool keyExists(const Document& document, const QString& keyPath) {
    return lookup(document, keyPath, QString()).keyOpened;
}

void setValue(Document& document, const QString& keyPath, const QString& name, std::uint32_t type,
              const QByteArray& data) {
    std::vector<Line>& lines = document.lines;
    const QString lb = document.lineBreak;
    const auto count = qsizetype(lines.size());

    // The block that a reader sees last: the last line opening the key after its last deletion.
    qsizetype block = -1;
    for (qsizetype i = 0; i < count; ++i) {
        const Line& line = lines[size_t(i)];
        if (line.kind == Line::Kind::Key && sameName(keyPathView(document.raw(line)), keyPath))
            block = i;
        else if (line.kind == Line::Kind::DeleteKey && deletes(keyPathView(document.raw(line)), keyPath))
            block = -1;
    }

    auto terminate = [&](qsizetype index) {
        if (index < 0)
            return;
        Line& line = lines[size_t(index)];
        const QStringView raw = document.raw(line);
        if (!raw.endsWith(u'\n'))
            line = ownLine(document, line.kind, raw.toString() + lb);
    };

    if (block < 0) {
        if (std::none_of(lines.begin(), lines.end(),
                         [](const Line& l) { return l.kind == Line::Kind::Header; }))
            lines.insert(lines.begin(), ownLine(document, Line::Kind::Header, header + lb));
        terminate(qsizetype(lines.size()) - 1);
        if (lines.back().kind != Line::Kind::Blank)
            lines.push_back(ownLine(document, Line::Kind::Blank, lb));
        lines.push_back(ownLine(document, Line::Kind::Key, u'[' + keyPath + u']' + lb));
        lines.push_back(ownLine(document, Line::Kind::Value, formatValue(name, type, data, lb)));
        return;
    }

    qsizetype lastValue = block;
    qsizetype match = -1;
    for (qsizetype i = block + 1; i < count; ++i) {
        const Line& line = lines[size_t(i)];
        if (line.kind == Line::Kind::Key || line.kind == Line::Kind::DeleteKey)
            break;
        if (line.kind == Line::Kind::Value || line.kind == Line::Kind::DeleteValue) {
            lastValue = i;
            if (sameName(valueNameOf(document, line), name))
                match = i;
        }
    }
    if (match >= 0) {
        Line& line = lines[size_t(match)];
        // The name keeps the case it was written with.
        const bool hadBreak = document.raw(line).endsWith(u'\n');
        QString raw = formatValue(valueNameOf(document, line), type, data, lb);
        if (!hadBreak)
            raw.chop(lb.size());
        line = ownLine(document, Line::Kind::Value, raw);
        return;
    }
    terminate(lastValue);
    lines.insert(lines.begin() + lastValue + 1,
                 ownLine(document, Line::Kind::Value, formatValue(name, type, data, lb)));
}

} // namespace registry
