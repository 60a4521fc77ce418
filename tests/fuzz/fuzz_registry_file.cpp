// Registry files: whatever parses comes back byte for byte, and a value written into it reads back
// while every other value stays as it was.

#include "platform/error.h"
#include "platform/registry_file_format.h"

#include <cstdlib>

namespace {

void require(bool condition) {
    if (!condition)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    const QString name = QStringLiteral("fuzz.reg");
    regfile::Document document;
    try {
        document = regfile::parse(bytes, name);
    } catch (const Error&) {
        return 0;
    }
    require(regfile::serialize(document) == bytes);

    // Every value the file holds, as a reader sees it before the write.
    QList<std::pair<QString, QString>> values;
    QString key;
    for (const regfile::Line& line : document.lines) {
        if (line.kind == regfile::Line::Kind::Key)
            key = regfile::keyPathOf(document, line);
        else if (line.kind == regfile::Line::Kind::Value)
            values.append({key, regfile::valueNameOf(document, line)});
    }
    QList<registry::Lookup> before;
    for (const auto& [path, value] : values)
        before.append(regfile::lookup(document, path, value));

    const QString section = QStringLiteral("vus_bistral");
    const QString target = regfile::sectionKeyPath(section);
    const QByteArray written("3\0.\0007\0\0\0", 8);
    regfile::setValue(document, target, QStringLiteral("ProgrammVersion"), registry::RegSz, written);
    regfile::Document again = regfile::parse(regfile::serialize(document), name);
    const registry::Lookup found = regfile::lookup(again, target, QStringLiteral("ProgrammVersion"));
    require(found.valueExists && found.type == registry::RegSz &&
            QByteArray(reinterpret_cast<const char*>(found.data.data()), qsizetype(found.data.size())) ==
                written);
    for (qsizetype i = 0; i < values.size(); ++i) {
        const auto& [path, value] = values[i];
        if (path.compare(target, Qt::CaseInsensitive) == 0 &&
            value.compare(QStringLiteral("ProgrammVersion"), Qt::CaseInsensitive) == 0)
            continue;
        const registry::Lookup now = regfile::lookup(again, path, value);
        require(now.valueExists == before[i].valueExists && now.type == before[i].type &&
                now.data == before[i].data);
    }
    return 0;
}
