#pragma once

#include "native/registry_rules.h"

#include <QString>

#include <memory>

namespace registry {

// The current user's registry under HKEY_CURRENT_USER\Software, as the kit's programs use it:
// sections (subkeys) holding named string values.
class Registry {
public:
    virtual ~Registry() = default;

    // Raises "Invalid data type for '<name>'" for a value that is not a string.
    QString readString(const QString& section, const QString& name, const QString& defaultText) const;
    // Sets the value as REG_SZ, creating the section when missing; raises
    // "Failed to create key <section>" or "Failed to set data for '<name>'".
    virtual void writeString(const QString& section, const QString& name, const QString& text) = 0;

    // What the backend holds for the value, before the reading rules.
    virtual native::Lookup lookup(const QString& section, const QString& name) const = 0;

    // The reads of one operation may share what the backend took from the registry once, as long
    // as nothing changed it meanwhile; between operations nothing is kept. Operations may nest.
    virtual void beginOperation() {}
    virtual void endOperation() {}
};

// One operation on the registry, for as long as it lives; a null registry is no operation.
class RegistryOperation {
public:
    explicit RegistryOperation(Registry* registry)
        : m_registry(registry) {
        if (m_registry)
            m_registry->beginOperation();
    }
    ~RegistryOperation() {
        if (m_registry)
            m_registry->endOperation();
    }
    RegistryOperation(const RegistryOperation&) = delete;
    RegistryOperation& operator=(const RegistryOperation&) = delete;

private:
    Registry* m_registry;
};

// The registry file that stands in for the Windows registry elsewhere: KVARNEL_REGISTRY, or
// $XDG_CONFIG_HOME/kvarnel/registry.reg (~/.config/kvarnel/registry.reg), made absolute.
QString defaultRegistryFilePath();

// The platform's registry: the Windows registry on Windows, the registry file at `filePath` elsewhere.
std::unique_ptr<Registry> openUserRegistry(const QString& filePath);

std::u16string_view toU16(const QString& text);

} // namespace registry
