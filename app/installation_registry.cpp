#include "app/main.h"
#include "app/version_data.h"
#include "registry/registry.h"

#include <QDir>

using registry::Registry;

// Records the new version in the three sections that carry one. The current directory moves to the
// installation's parent folder and stays there (the documents download resolves its folder from it).
void TfmMain::UpdateReestr() {
    Registry& registry = *m_seams.registry;
    const QString path =
        registry.readString(QStringLiteral("vus_bistral"), QStringLiteral("ProgrammPath"), QString());
    QDir::setCurrent(path);
    QDir::setCurrent(QStringLiteral(".."));
    for (const char* section : {"vus_bistral", "SchoolBase", "VUS_dop"})
        registry.writeString(QString::fromLatin1(section), QStringLiteral("ProgrammVersion"),
                             m_dm.Programm_version());
}
