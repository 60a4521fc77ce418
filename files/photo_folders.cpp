#include "files/file_maintenance.h"
#include "filesystem/folder_handle.h"
#include "seams/window_controls.h"

#include <algorithm>
#include <iterator>

using filesystem::FolderHandle;
using seams::WindowQueue;

namespace {

// The characters Windows forbids in names, each with the token that stands for it.
struct PhotoToken {
    char16_t character;
    const char* token;
};
constexpr PhotoToken photoTokens[] = {
    {u'\\', "_psl_"}, {u'/', "_osl_"}, {u':', "_2pn_"}, {u'*', "_str_"}, {u'|', "_vsl_"},
    {u'"', "_kvc_"},  {u'<', "_lss_"}, {u'>', "_big_"}, {u'?', "_qst_"},
};

} // namespace

QString files::FileMaintenance::DirNameForPhoto(const QString& s2) {
    // No token holds any of the nine characters, so one pass gives what the replacements in turn give.
    QString name;
    name.reserve(s2.size());
    for (const QChar c : s2) {
        const auto* token = std::find_if(std::begin(photoTokens), std::end(photoTokens),
                                         [c](const PhotoToken& t) { return t.character == c; });
        if (token != std::end(photoTokens))
            name += QLatin1StringView(token->token);
        else
            name += c;
    }
    return name;
}

void files::FileMaintenance::RenameDirForPhoto(const QString& dir_name) {
    const WindowQueue::Scope scope(m_queue);
    const FolderHandle folder = FolderHandle::open(dir_name);
    for (const FolderHandle::Entry& entry : folder.entries()) {
        // A link to a folder is renamed itself; what it leads to is never touched.
        if (entry.kind == FolderHandle::Kind::Folder ||
            (entry.kind == FolderHandle::Kind::Link && folder.isLinkToFolder(entry.name))) {
            const QString encoded = DirNameForPhoto(entry.name);
            if (encoded != entry.name)
                folder.rename(entry.name, encoded);
        }
        m_queue.runQueue();
    }
}

// The "foto" folder of the updater folder, for the same reason as the folder of the obsolete files:
// the operator decides what lies there.
void files::FileMaintenance::renamePhotoFolders() {
    RenameDirForPhoto(m_updaterFolder + QStringLiteral("foto"));
}
