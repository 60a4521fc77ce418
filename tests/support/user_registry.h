#pragma once

#ifdef _WIN32

#include "registry/registry_file_format.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

#include <vector>

#include <windows.h>

// On Windows the program reads the current user's real registry (under Wine, the prefix's own), so
// a test's registry text is applied to HKEY_CURRENT_USER and its keys are removed again afterwards.
namespace user_registry {

inline const wchar_t* wide(const QString& text) {
    return reinterpret_cast<const wchar_t*>(text.utf16());
}

// The kit's sections under HKEY_CURRENT_USER\Software, which any test may have written.
inline QStringList kitSections() {
    return {QStringLiteral("vus_bistral"), QStringLiteral("SchoolBase"), QStringLiteral("VUS_dop"),
            QStringLiteral("VUSBase")};
}

inline void removeKeys(const QStringList& sections) {
    for (const QString& section : sections) {
        const QString path = QStringLiteral("Software\\") + section;
        ::RegDeleteTreeW(HKEY_CURRENT_USER, wide(path));
        ::RegDeleteKeyW(HKEY_CURRENT_USER, wide(path));
    }
}

// Sets every key and value of a regedit text under HKEY_CURRENT_USER; returns the sections it
// touched (the first key below Software). Fails the whole test run on a key it cannot write, as a
// fixture that half-applies would make the test check the wrong thing.
inline QStringList apply(const QByteArray& regedit) {
    const registry::Document document = registry::parse(regedit, QStringLiteral("registry.reg"));
    const QString root = QStringLiteral("HKEY_CURRENT_USER\\");
    QStringList sections;
    QString keyPath;
    HKEY key = nullptr;
    for (const registry::Line& line : document.lines) {
        if (line.kind == registry::Line::Kind::Key) {
            if (key)
                ::RegCloseKey(key);
            key = nullptr;
            keyPath = registry::keyPathOf(document, line);
            if (!keyPath.startsWith(root, Qt::CaseInsensitive))
                qFatal("the test registry holds a key outside HKEY_CURRENT_USER: %s", qPrintable(keyPath));
            const QString subPath = keyPath.mid(root.size());
            const QStringList parts = subPath.split(u'\\');
            if (parts.size() >= 2 && !sections.contains(parts[1]))
                sections.append(parts[1]);
            if (::RegCreateKeyExW(HKEY_CURRENT_USER, wide(subPath), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr,
                                  &key, nullptr) != ERROR_SUCCESS)
                qFatal("cannot create the test key %s", qPrintable(keyPath));
        } else if (line.kind == registry::Line::Kind::Value && key) {
            const QString name = registry::valueNameOf(document, line);
            const native::Lookup found = registry::lookup(document, keyPath, name);
            if (!found.valueExists)
                continue;
            if (::RegSetValueExW(key, wide(name), 0, found.type, found.data.data(),
                                 DWORD(found.data.size())) != ERROR_SUCCESS)
                qFatal("cannot set the test value %s in %s", qPrintable(name), qPrintable(keyPath));
        }
    }
    if (key)
        ::RegCloseKey(key);
    return sections;
}

// The values of the sections as text, to tell whether anything changed them.
inline QByteArray snapshot(const QStringList& sections) {
    QByteArray out;
    for (const QString& section : sections) {
        HKEY key = nullptr;
        const QString path = QStringLiteral("Software\\") + section;
        if (::RegOpenKeyExW(HKEY_CURRENT_USER, wide(path), 0, KEY_READ, &key) != ERROR_SUCCESS) {
            out += "no " + section.toUtf8() + '\n';
            continue;
        }
        out += '[' + section.toUtf8() + "]\n";
        std::vector<wchar_t> name(16384);
        std::vector<BYTE> data(1 << 20);
        for (DWORD i = 0;; ++i) {
            DWORD nameSize = DWORD(name.size());
            DWORD dataSize = DWORD(data.size());
            DWORD type = 0;
            if (::RegEnumValueW(key, i, name.data(), &nameSize, nullptr, &type, data.data(), &dataSize) !=
                ERROR_SUCCESS)
                break;
            out += QString::fromWCharArray(name.data(), int(nameSize)).toUtf8() + '=' +
                   QByteArray::number(type) + ':' +
                   QByteArray(reinterpret_cast<const char*>(data.data()), qsizetype(dataSize)).toHex() + '\n';
        }
        ::RegCloseKey(key);
    }
    return out;
}

} // namespace user_registry

#endif
