// Registry files: whatever parses comes back byte for byte, and a value written into it reads back
// while every other value stays as it was.

#include "base/error.h"
#include "registry/registry_file_format.h"

#include <cstdlib>

using base::Error;

namespace {

void require(bool condition) {
    if (!condition)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray bytes(reinterpret_cast<const char*>(data), qsizetype(size));
    const QString name = QStringLiteral("fuzz.reg");
    registry::Document document;
    try {
        document = registry::parse(bytes, name);
    } catch (const Error&) {
        return 0;
    }
    require(registry::serialize(document) == bytes);

    // Every value the file holds, as a reader sees it before the write.
    QList<std::pair<QString, QString>> values;
    QString key;
    for (const registry::Line& line : document.lines) {
        if (line.kind == registry::Line::Kind::Key)
            key = registry::keyPathOf(document, line);
        else if (line.kind == registry::Line::Kind::Value)
            values.append({key, registry::valueNameOf(document, line)});
    }
    QList<native::Lookup> before;
    for (const auto& [path, value] : values)
        before.append(registry::lookup(document, path, value));

    const QString section = QStringLiteral("vus_bistral");
    const QString target = registry::sectionKeyPath(section);
    const QByteArray written("3\0.\0007\0\0\0", 8);
    registry::setValue(document, target, QStringLiteral("ProgrammVersion"), native::RegSz, written);
    registry::Document again = registry::parse(registry::serialize(document), name);
    const native::Lookup found = registry::lookup(again, target, QStringLiteral("ProgrammVersion"));
    require(found.valueExists && found.type == native::RegSz &&
            QByteArray(reinterpret_cast<const char*>(found.data.data()), qsizetype(found.data.size())) ==
                written);
    for (qsizetype i = 0; i < values.size(); ++i) {
        const auto& [path, value] = values[i];
        if (path.compare(target, Qt::CaseInsensitive) == 0 &&
            value.compare(QStringLiteral("ProgrammVersion"), Qt::CaseInsensitive) == 0)
            continue;
        const native::Lookup now = registry::lookup(again, path, value);
        require(now.valueExists == before[i].valueExists && now.type == before[i].type &&
                now.data == before[i].data);
    }
    return 0;
}
