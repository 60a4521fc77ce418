#include "app/main.h"

#include "platform/folder_handle.h"

#include <QCoreApplication>

QString TfmMain::DirNameForPhoto(const QString& s2) {
    // No token holds any of the nine characters, so one pass gives what the replacements in turn give.
    QString name;
    name.reserve(s2.size());
    for (const QChar c : s2) {
        switch (c.unicode()) {
        case u'\\':
            name += QStringLiteral("_psl_");
            break;
        case u'/':
            name += QStringLiteral("_osl_");
            break;
        case u':':
            name += QStringLiteral("_2pn_");
            break;
        case u'*':
            name += QStringLiteral("_str_");
            break;
        case u'|':
            name += QStringLiteral("_vsl_");
            break;
        case u'"':
            name += QStringLiteral("_kvc_");
            break;
        case u'<':
            name += QStringLiteral("_lss_");
            break;
        case u'>':
            name += QStringLiteral("_big_");
            break;
        case u'?':
            name += QStringLiteral("_qst_");
            break;
        default:
            name += c;
            break;
        }
    }
    return name;
}

void TfmMain::RenameDirForPhoto(const QString& dir_name) {
    const EventLoopScope scope(*this);
    const FolderHandle folder = FolderHandle::open(dir_name);
    for (const FolderHandle::Entry& entry : folder.entries()) {
        // A link is not a folder of this one: it keeps its name.
        if (entry.kind == FolderHandle::Kind::Folder) {
            const QString encoded = DirNameForPhoto(entry.name);
            if (encoded != entry.name)
                folder.rename(entry.name, encoded);
        }
        QCoreApplication::processEvents();
    }
}

// The "foto" folder of the updater folder, for the same reason as the folder of Button5Click: the
// operator decides what lies there.
void TfmMain::Button4Click() {
    RenameDirForPhoto(m_seams.updaterFolder + QStringLiteral("foto"));
}
