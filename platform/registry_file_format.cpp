#include "platform/registry_file_format.h"

#include "platform/error.h"

#include <QStringDecoder>

namespace regfile {

namespace {

const QString header = QStringLiteral("Windows Registry Editor Version 5.00");

[[noreturn]] void fail(const QString& fileName, int line, const QString& what) {
    throw Error(QStringLiteral("The registry file %1 cannot be read: line %2: %3")
                    .arg(fileName)
                    .arg(line)
                    .arg(what)
                    .toStdString());
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
            fail(fileName, 1, QStringLiteral("UTF-16 text of an odd number of bytes"));
        QString text(bytes.size() / 2 - 1, Qt::Uninitialized);
        for (qsizetype i = 2; i < bytes.size(); i += 2)
            text[i / 2 - 1] = QChar(char16_t(uchar(bytes[i]) | (uchar(bytes[i + 1]) << 8)));
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
        fail(fileName, lineOfOffset(bytes, bad), QStringLiteral("neither UTF-8 nor UTF-16LE text"));
    // A second byte-order mark is text of the file, not to be dropped.
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::ConvertInitialBom);
    return utf8(QByteArrayView(bytes).sliced(start));
}

// Physical lines, each with its line break.
QList<QString> splitLines(const QString& text, QString& lineBreak) {
    QList<QString> lines;
    bool breakSeen = false;
    qsizetype start = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] != u'\n')
            continue;
        if (!breakSeen) {
            lineBreak = (i > 0 && text[i - 1] == u'\r') ? QStringLiteral("\r\n") : QStringLiteral("\n");
            breakSeen = true;
        }
        lines.append(text.mid(start, i + 1 - start));
        start = i + 1;
    }
    if (start < text.size())
        lines.append(text.mid(start));
    return lines;
}

QString content(const QString& physical) {
    QString s = physical;
    while (s.endsWith(u'\n') || s.endsWith(u'\r'))
        s.chop(1);
    return s;
}

// Reads a quoted string starting at `pos` (on the opening quote); leaves `pos` after the closing one.
bool readQuoted(const QString& s, qsizetype& pos, QString& out) {
    out.clear();
    for (qsizetype i = pos + 1; i < s.size(); ++i) {
        const QChar c = s[i];
        if (c == u'\\') {
            if (i + 1 >= s.size() || (s[i + 1] != u'\\' && s[i + 1] != u'"'))
                return false;
            out.append(s[++i]);
        } else if (c == u'"') {
            pos = i + 1;
            return true;
        } else {
            out.append(c);
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
    if (type == registry::RegSz && data.size() % 2 == 0 && data.endsWith(QByteArray(2, '\0'))) {
        QString text;
        for (qsizetype i = 0; i + 2 < data.size(); i += 2)
            text.append(QChar(char16_t(uchar(data[i]) | (uchar(data[i + 1]) << 8))));
        if (!text.contains(u'\0') && !text.contains(u'\n') && !text.contains(u'\r'))
            return left + escaped(text) + lineBreak;
    }
    if (type == registry::RegDword && data.size() == 4) {
        const quint32 v = quint32(uchar(data[0])) | quint32(uchar(data[1])) << 8 |
                          quint32(uchar(data[2])) << 16 | quint32(uchar(data[3])) << 24;
        return left + QStringLiteral("dword:%1").arg(v, 8, 16, QLatin1Char('0')) + lineBreak;
    }
    const QString prefix = left + (type == registry::RegBinary ? QStringLiteral("hex:")
                                                               : QStringLiteral("hex(%1):").arg(type, 0, 16));
    return formatHex(prefix, data, lineBreak) + lineBreak;
}

bool sameName(const QString& a, const QString& b) {
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

// A deletion of `deleted` removes `path` and every key below it.
bool deletes(const QString& deleted, const QString& path) {
    return sameName(deleted, path) || path.startsWith(deleted + u'\\', Qt::CaseInsensitive);
}

Line parseValue(const QString& text, const QString& raw, const QString& fileName, int lineNo) {
    Line line;
    line.raw = raw;
    qsizetype pos = 0;
    if (text.startsWith(u'@')) {
        pos = 1;
    } else if (!readQuoted(text, pos, line.name)) {
        fail(fileName, lineNo, QStringLiteral("a value name without its closing quote"));
    }
    while (pos < text.size() && text[pos].isSpace())
        ++pos;
    if (pos >= text.size() || text[pos] != u'=')
        fail(fileName, lineNo, QStringLiteral("a value without \"=\""));
    ++pos;
    while (pos < text.size() && text[pos].isSpace())
        ++pos;
    const QString data = text.mid(pos);
    if (data.trimmed() == QStringLiteral("-")) {
        line.kind = Line::Kind::DeleteValue;
        return line;
    }
    line.kind = Line::Kind::Value;
    if (data.startsWith(u'"')) {
        QString value;
        qsizetype end = 0;
        if (!readQuoted(data, end, value) || !data.mid(end).trimmed().isEmpty())
            fail(fileName, lineNo, QStringLiteral("a string value that is not closed properly"));
        line.type = registry::RegSz;
        line.data =
            QByteArray(reinterpret_cast<const char*>(value.utf16()), value.size() * 2) + QByteArray(2, '\0');
        return line;
    }
    if (data.startsWith(QStringLiteral("dword:"), Qt::CaseInsensitive)) {
        const QString digits = data.mid(6).trimmed();
        bool ok = false;
        const quint32 v = digits.toUInt(&ok, 16);
        if (!ok || digits.size() > 8)
            fail(fileName, lineNo, QStringLiteral("a dword that is not 8 hexadecimal digits"));
        line.type = registry::RegDword;
        line.data = QByteArray(4, '\0');
        for (int i = 0; i < 4; ++i)
            line.data[i] = char((v >> (8 * i)) & 0xFF);
        return line;
    }
    qsizetype listStart = -1;
    if (data.startsWith(QStringLiteral("hex:"), Qt::CaseInsensitive)) {
        line.type = registry::RegBinary;
        listStart = 4;
    } else if (data.startsWith(QStringLiteral("hex("), Qt::CaseInsensitive)) {
        const qsizetype close = data.indexOf(QStringLiteral("):"));
        bool ok = false;
        const QString digits = data.mid(4, close - 4);
        line.type = close > 4 && digits.size() <= 8 ? digits.toUInt(&ok, 16) : 0;
        if (!ok)
            fail(fileName, lineNo, QStringLiteral("a hex(...) type that is not a hexadecimal number"));
        listStart = close + 2;
    } else {
        fail(fileName, lineNo, QStringLiteral("a value of unknown form"));
    }
    if (!parseHexBytes(data.mid(listStart), line.data))
        fail(fileName, lineNo, QStringLiteral("a byte list that is not comma-separated hexadecimal bytes"));
    return line;
}

} // namespace

QString sectionKeyPath(const QString& section) {
    return QStringLiteral("HKEY_CURRENT_USER\\Software\\") + section;
}

Document parse(const QByteArray& bytes, const QString& fileName) {
    Document document;
    const QString text = decode(bytes, fileName, document.encoding);
    const QList<QString> physical = splitLines(text, document.lineBreak);
    bool headerSeen = false;
    bool inKey = false;
    for (qsizetype i = 0; i < physical.size(); ++i) {
        const int lineNo = int(i) + 1;
        Line line;
        line.raw = physical[i];
        const QString body = content(physical[i]);
        const QString trimmed = body.trimmed();
        if (trimmed.isEmpty()) {
            line.kind = Line::Kind::Blank;
        } else if (!headerSeen) {
            if (trimmed != header)
                fail(fileName, lineNo, QStringLiteral("the first line is not \"%1\"").arg(header));
            line.kind = Line::Kind::Header;
            headerSeen = true;
        } else if (trimmed.startsWith(u';')) {
            line.kind = Line::Kind::Comment;
        } else if (trimmed.startsWith(u'[')) {
            if (!trimmed.endsWith(u']'))
                fail(fileName, lineNo, QStringLiteral("a key without its closing bracket"));
            const bool deletion = trimmed.startsWith(QStringLiteral("[-"));
            line.kind = deletion ? Line::Kind::DeleteKey : Line::Kind::Key;
            line.keyPath = trimmed.mid(deletion ? 2 : 1, trimmed.size() - (deletion ? 3 : 2));
            inKey = true;
        } else if (trimmed.startsWith(u'"') || trimmed.startsWith(u'@')) {
            if (!inKey)
                fail(fileName, lineNo, QStringLiteral("a value before any key"));
            // A hex list goes on over the following lines while a line ends with a backslash.
            QString joined = trimmed;
            while (joined.endsWith(u'\\')) {
                if (++i >= physical.size())
                    fail(fileName, lineNo, QStringLiteral("a continued value at the end of the file"));
                joined.chop(1);
                joined.append(content(physical[i]).trimmed());
                line.raw.append(physical[i]);
            }
            const QString raw = line.raw;
            line = parseValue(joined, raw, fileName, lineNo);
        } else {
            fail(fileName, lineNo, QStringLiteral("neither a key, a value nor a comment"));
        }
        document.lines.append(line);
    }
    return document;
}

QByteArray serialize(const Document& document) {
    QString text;
    for (const Line& line : document.lines)
        text.append(line.raw);
    switch (document.encoding) {
    case Encoding::Utf16LeBom:
        return QByteArray("\xFF\xFE", 2) +
               QByteArray(reinterpret_cast<const char*>(text.utf16()), text.size() * 2);
    case Encoding::Utf8Bom:
        return QByteArray("\xEF\xBB\xBF") + text.toUtf8();
    case Encoding::Utf8:
        break;
    }
    return text.toUtf8();
}

registry::Lookup lookup(const Document& document, const QString& keyPath, const QString& name) {
    registry::Lookup found;
    bool inKey = false;
    for (const Line& line : document.lines) {
        switch (line.kind) {
        case Line::Kind::Key:
            inKey = sameName(line.keyPath, keyPath);
            if (inKey)
                found.keyOpened = true;
            break;
        case Line::Kind::DeleteKey:
            if (deletes(line.keyPath, keyPath))
                found = registry::Lookup{};
            inKey = false;
            break;
        case Line::Kind::Value:
            if (inKey && sameName(line.name, name)) {
                found.valueExists = true;
                found.type = line.type;
                found.data.assign(line.data.begin(), line.data.end());
            }
            break;
        case Line::Kind::DeleteValue:
            if (inKey && sameName(line.name, name)) {
                found.valueExists = false;
                found.type = registry::RegNone;
                found.data.clear();
            }
            break;
        default:
            break;
        }
    }
    return found;
}

bool keyExists(const Document& document, const QString& keyPath) {
    return lookup(document, keyPath, QString()).keyOpened;
}

void setValue(Document& document, const QString& keyPath, const QString& name, std::uint32_t type,
              const QByteArray& data) {
    QList<Line>& lines = document.lines;
    const QString& lb = document.lineBreak;

    // The block that a reader sees last: the last line opening the key after its last deletion.
    qsizetype block = -1;
    for (qsizetype i = 0; i < lines.size(); ++i) {
        if (lines[i].kind == Line::Kind::Key && sameName(lines[i].keyPath, keyPath))
            block = i;
        else if (lines[i].kind == Line::Kind::DeleteKey && deletes(lines[i].keyPath, keyPath))
            block = -1;
    }

    Line value;
    value.kind = Line::Kind::Value;
    value.type = type;
    value.data = data;
    value.name = name;

    auto terminate = [&](qsizetype index) {
        if (index >= 0 && !lines[index].raw.endsWith(u'\n'))
            lines[index].raw.append(lb);
    };

    if (block < 0) {
        if (lines.isEmpty() || std::none_of(lines.begin(), lines.end(),
                                            [](const Line& l) { return l.kind == Line::Kind::Header; })) {
            Line head;
            head.kind = Line::Kind::Header;
            head.raw = header + lb;
            lines.prepend(head);
        }
        terminate(lines.size() - 1);
        if (lines.last().kind != Line::Kind::Blank) {
            Line blank;
            blank.raw = lb;
            lines.append(blank);
        }
        Line key;
        key.kind = Line::Kind::Key;
        key.keyPath = keyPath;
        key.raw = u'[' + keyPath + u']' + lb;
        lines.append(key);
        value.raw = formatValue(name, type, data, lb);
        lines.append(value);
        return;
    }

    qsizetype lastValue = block;
    qsizetype match = -1;
    for (qsizetype i = block + 1; i < lines.size(); ++i) {
        const Line::Kind kind = lines[i].kind;
        if (kind == Line::Kind::Key || kind == Line::Kind::DeleteKey)
            break;
        if (kind == Line::Kind::Value || kind == Line::Kind::DeleteValue) {
            lastValue = i;
            if (sameName(lines[i].name, name))
                match = i;
        }
    }
    if (match >= 0) {
        value.name = lines[match].name; // the name keeps the case it was written with
        const bool hadBreak = lines[match].raw.endsWith(u'\n');
        value.raw = formatValue(value.name, type, data, lb);
        if (!hadBreak)
            value.raw.chop(lb.size());
        lines[match] = value;
        return;
    }
    terminate(lastValue);
    value.raw = formatValue(name, type, data, lb);
    lines.insert(lastValue + 1, value);
}

} // namespace regfile
