#pragma once

#include <QString>

namespace seams {

// The activity log the operator reads: the window's list, the unattended mode's standard output, or
// a test's record. Operations report through it and never reach the list itself.
class ActivityLog {
public:
    virtual ~ActivityLog() = default;

    virtual void AddToLog(const QString& text) = 0;    // the new line becomes the selected one
    virtual void AppendToLog(const QString& text) = 0; // the selection stays
    // The text of the log's last line, and its replacement (the selection stays). Both raise Error
    // while the log holds no line.
    virtual QString LastLogLine() const = 0;
    virtual void ReplaceLastLogLine(const QString& text) = 0;
};

} // namespace seams
