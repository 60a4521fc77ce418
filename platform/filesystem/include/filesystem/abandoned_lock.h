#pragma once

#include <QDeadlineTimer>
#include <QLockFile>
#include <QString>

#include <chrono>

namespace filesystem {

// A process killed between creating a QLockFile's file and writing itself into it leaves the file
// empty. QLockFile cannot tell whose such a file is: with a stale time it lets the file age out, without
// one it waits for it forever. A live owner writes itself in at once (and on Unix holds the file's
// flock from the moment it made it), so an empty file that has existed for a moment is abandoned.
constexpr std::chrono::milliseconds abandonedLockGrace{1000};

// Removes `lockPath` when it is an empty lock file older than `grace` that no live owner holds; true
// when it did.
bool removeAbandonedLock(const QString& lockPath, std::chrono::milliseconds grace = abandonedLockGrace);

// Takes `lock`. On the way it removes the lock files that killed processes left: its own file, or
// one of the companions "<file>.rmlock", "<file>.rmlock.rmlock", ... that QLockFile makes while it
// removes a stale lock (a process killed there leaves one of them empty, and every lock above it
// stays). Once it holds the lock it clears the abandoned companions its taking went past. A lock held
// by a live process is waited for until `deadline` when the owner is `Waited`, refused at once when
// it is `Refused`; false when the lock was not taken.
enum class LiveOwner { Waited, Refused };
bool lockPastAbandoned(QLockFile& lock, QDeadlineTimer deadline, LiveOwner liveOwner);

} // namespace filesystem
