#pragma once

#include <QString>

#include <chrono>

// A process killed between creating a QLockFile's file and writing itself into it leaves the file
// empty. QLockFile cannot tell whose such a file is: with a stale time it lets the file age out, without
// one it waits for it forever. A live owner writes itself in at once (and on Unix holds the file's
// flock from the moment it made it), so an empty file that has existed for a moment is abandoned.
constexpr std::chrono::milliseconds abandonedLockGrace{1000};

// Removes `lockPath` when it is an empty lock file older than `grace` that no live owner holds; true
// when it did.
bool removeAbandonedLock(const QString& lockPath, std::chrono::milliseconds grace = abandonedLockGrace);

// The same for a QLockFile's file and its companions "<file>.rmlock", "<file>.rmlock.rmlock", ...,
// which QLockFile makes while it removes a stale lock: a process killed there leaves one of them
// empty, and every lock above it stays. True when any was removed.
bool removeAbandonedLocks(const QString& lockPath, std::chrono::milliseconds grace = abandonedLockGrace);
// For the holder of `lockPath`: removes the companions that killed processes left beside it; QLockFile
// only needs them while it removes a dead owner's lock, so the holder's taking of the lock may have
// gone past them.
void removeAbandonedCompanions(const QString& lockPath);
// True when the lock file or one of its companions is empty: abandoned, or being made this moment.
bool hasEmptyLock(const QString& lockPath);
