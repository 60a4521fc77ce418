#include "registry/registry.h"

#include "base/error.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

#ifdef _WIN32
#include "native/registry_windows.h"
#else
#include "registry/registry_file.h"
#endif

namespace registry {

std::u16string_view toU16(const QString& text) {
    return {reinterpret_cast<const char16_t*>(text.utf16()), size_t(text.size())};
}

QString Registry::readString(const QString& section, const QString& name, const QString& defaultText) const {
    return QString::fromStdU16String(
        native::readString(lookup(section, name), toU16(name), toU16(defaultText)));
}

QString defaultRegistryFilePath() {
    QString path = qEnvironmentVariable("KVARNEL_REGISTRY");
    if (path.isEmpty()) {
        QString config = qEnvironmentVariable("XDG_CONFIG_HOME");
        if (config.isEmpty())
            config = QDir::homePath() + QStringLiteral("/.config");
        path = config + QStringLiteral("/kvarnel/registry.reg");
    }
    return QFileInfo(path).absoluteFilePath();
}

#ifdef _WIN32

namespace {

class WindowsUserRegistry final : public Registry {
public:
    void writeString(const QString& section, const QString& name, const QString& text) override {
        m_native.writeString(toU16(section), toU16(name), toU16(text));
    }
    native::Lookup lookup(const QString& section, const QString& name) const override {
        return m_native.lookup(toU16(section), toU16(name));
    }

private:
    native::WindowsRegistry m_native;
};

} // namespace

std::unique_ptr<Registry> openUserRegistry(const QString&) {
    return std::make_unique<WindowsUserRegistry>();
}

#else

std::unique_ptr<Registry> openUserRegistry(const QString& filePath) {
    return std::make_unique<RegistryFile>(filePath);
}

#endif

} // namespace registry
