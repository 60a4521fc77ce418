#include "files/file_maintenance.h"
#include "filesystem/folder_handle.h"
#include "filesystem/paths.h"
#include "text/text_lines.h"

#include <QStringList>

#include <algorithm>
#include <optional>

using filesystem::FolderHandle;
using seams::WindowQueue;

namespace {

// The folders and the file name of a listed line, relative to the target folder, with "." and ".."
// resolved the way Windows resolves them. None for a line that is absolute (a separator or a drive
// first) or that climbs out of the target folder: the list must not reach anything outside it.
std::optional<QStringList> listedPath(const QString& line) {
    if (line.startsWith(u'\\') || line.startsWith(u'/'))
        return std::nullopt;
    if (line.size() >= 2 && line.at(1) == u':' && line.at(0).isLetter() && line.at(0).unicode() < 0x80)
        return std::nullopt;
    QStringList components;
    const QStringList parts = QString(line).replace(u'\\', u'/').split(u'/');
    for (const QString& part : parts) {
        if (part.isEmpty() || part == u".")
            continue;
        if (part == u"..") {
            if (components.isEmpty())
                return std::nullopt;
            components.removeLast();
            continue;
        }
        components.append(part);
    }
    return components;
}

// Deletes the listed file without following any link on the way, so that nothing outside `target`
// goes. A line that names a folder (an empty line, a trailing separator) deletes nothing, and a
// read-only file stays.
void removeListedFile(const FolderHandle& target, const QString& line) {
    const std::optional<QStringList> path = listedPath(line);
    if (!path || path->isEmpty() || line.endsWith(u'\\') || line.endsWith(u'/'))
        return;
    FolderHandle folder;
    const FolderHandle* at = &target;
    for (qsizetype i = 0; i + 1 < path->size(); ++i) {
        folder = at->child(path->at(i));
        if (!folder.isOpen())
            return;
        at = &folder;
    }
    at->removeFileUnlessReadOnly(path->last());
}

// Prunes the folder `name` of `parent`: true when it was removed. A link is an entry like a file: it
// keeps its folder and is never followed.
bool removeEmptyFolder(const FolderHandle& parent, const QString& name) {
    bool removable = true;
    {
        // Held only while it is walked: an open folder cannot be removed on Windows.
        const FolderHandle folder = parent.child(name);
        for (const FolderHandle::Entry& entry : folder.entries()) {
            if (entry.name.startsWith(u'.'))
                continue;
            if (entry.kind == FolderHandle::Kind::Folder) {
                if (!removeEmptyFolder(folder, entry.name))
                    removable = false;
            } else {
                removable = false;
            }
        }
    }
    return removable && parent.removeFolder(name);
}

} // namespace

files::FileMaintenance::FileMaintenance(const QString& updaterFolder, WindowQueue& queue)
    : m_updaterFolder(updaterFolder)
    , m_queue(queue) {}

void files::FileMaintenance::RemoveFiles(const QString& _path) {
    const QStringList lines = text::loadLines(m_updaterFolder + QStringLiteral("res") +
                                              filesystem::separator() + QStringLiteral("files.txt"));
    const FolderHandle target = FolderHandle::open(_path);
    for (const QString& line : lines)
        removeListedFile(target, line);
    RemoveEmptyFolders(_path + QStringLiteral("doc"));
}

bool files::FileMaintenance::RemoveEmptyFolders(const QString& rootFolder) {
    QString folder = rootFolder;
    while (folder.size() > 1 && (folder.endsWith(u'/') || folder.endsWith(filesystem::separator())))
        folder.chop(1);
    const qsizetype cut = std::max(folder.lastIndexOf(u'/'), folder.lastIndexOf(filesystem::separator()));
    QString parent = cut < 0 ? QStringLiteral(".") : folder.left(cut);
    if (cut >= 0 && (parent.isEmpty() || parent.endsWith(u':'))) // the root of a file system or a drive
        parent = folder.left(cut + 1);
    return removeEmptyFolder(FolderHandle::open(parent), folder.mid(cut + 1));
}

void files::FileMaintenance::removeObsoleteFiles() {
    // The updater folder: the one the operator unpacked the update into and started it from, which
    // also holds the list. Nothing else is touched unless the operator puts it there.
    const QString folder = m_updaterFolder;
    FolderHandle::open(folder)
        .child(QStringLiteral("doc"))
        .rename(QStringLiteral("oplata"), QStringLiteral("Оплата"));
    RemoveFiles(folder);
}
