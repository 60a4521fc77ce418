#pragma once

#include <QString>

namespace seams {
class WindowQueue;
}

namespace files {

// The file maintenance commands on the updater folder: the obsolete files of the list, and the photo
// folders renamed into names Windows allows.
class FileMaintenance {
public:
    // `updaterFolder` ends with a separator; the queue runs while the photo folders are renamed.
    FileMaintenance(const QString& updaterFolder, seams::WindowQueue& queue);

    // --- Obsolete files (files/obsolete_files.cpp)
    void RemoveFiles(const QString& _path);             // `_path` ends with a separator
    bool RemoveEmptyFolders(const QString& rootFolder); // true when `rootFolder` was removed
    // Button5: "doc\oplata" renamed to "doc\Оплата", then the listed files of the updater folder go.
    void removeObsoleteFiles();

    // --- Photo folders (files/photo_folders.cpp)
    static QString DirNameForPhoto(const QString& s2);
    void RenameDirForPhoto(const QString& dir_name);
    // Button4: the folders of the updater folder's "foto".
    void renamePhotoFolders();

private:
    const QString m_updaterFolder;
    seams::WindowQueue& m_queue;
};

} // namespace files
