#pragma once

#include <QString>

#include <memory>

// One updater at a time per extraction folder. The lock is a file inside the folder, held with a lock
// that the system drops when its process ends (flock; on Windows a byte-range lock), so every updater
// of the folder meets it whatever its user, environment or the path it was given, and a killed
// updater leaves nothing that holds the next one up.
class UpdateLock {
public:
    static QString fileName();

    // The held lock, or nothing when a live updater holds it. Raises Error, with the reason, when
    // the lock cannot be taken for any other reason. Creates the folder when it is missing.
    static std::unique_ptr<UpdateLock> take(const QString& extractionFolder);

    ~UpdateLock(); // releases the lock and removes its file
    UpdateLock(const UpdateLock&) = delete;
    UpdateLock& operator=(const UpdateLock&) = delete;

private:
    UpdateLock() = default;
#ifdef _WIN32
    void* m_handle = nullptr;
#else
    int m_folder = -1;
    int m_file = -1;
#endif
};
