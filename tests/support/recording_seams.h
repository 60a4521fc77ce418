#pragma once

#include "base/error.h"
#include "seams/activity_log.h"
#include "seams/window_controls.h"

#include <QCoreApplication>
#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>

#include <functional>

// The activity log of a test: every line as written, and each also marked "A " when AddToLog made
// it the selected line and "P " when AppendToLog left the selection where it was.
class RecordingLog final : public seams::ActivityLog {
public:
    void AddToLog(const QString& text) override {
        lines.append(text);
        selectedRow = int(lines.size()) - 1;
        marked.append(QStringLiteral("A ") + text);
        if (onLineAdded)
            onLineAdded(text);
    }
    void AppendToLog(const QString& text) override {
        lines.append(text);
        marked.append(QStringLiteral("P ") + text);
        if (onLineAdded)
            onLineAdded(text);
    }
    QString LastLogLine() const override {
        if (lines.isEmpty())
            throw base::Error("В журнале нет ни одной строки.");
        return lines.last();
    }
    void ReplaceLastLogLine(const QString& text) override {
        if (lines.isEmpty())
            throw base::Error("В журнале нет ни одной строки.");
        lines.last() = text;
        if (onLastLineReplaced)
            onLastLineReplaced(text);
    }

    QStringList lines;
    QStringList marked;
    int selectedRow = -1;
    // Called as the window's signals are sent: after a line is added, after the last one is replaced.
    std::function<void(const QString&)> onLineAdded;
    std::function<void(const QString&)> onLastLineReplaced;
};

// The window's update and download buttons as the form starts them.
class RecordingControls final : public seams::WindowControls {
public:
    void setUpdateButtonText(const QString& text) override { updateButtonText = text; }
    void setUpdateButtonEnabled(bool enabled) override { updateButtonEnabled = enabled; }
    void setDownloadButtonEnabled(bool enabled) override { downloadButtonEnabled = enabled; }

    QString updateButtonText = QStringLiteral("Обновить программу");
    bool updateButtonEnabled = true;
    bool downloadButtonEnabled = true;
};

// The event queue of a test: it runs Qt's queue when asked and records the rest.
class RecordingQueue final : public seams::WindowQueue {
public:
    void beginLettingQueueRun() override { ++depth; }
    void endLettingQueueRun() override { --depth; }
    void runQueue() override {
        ++runs;
        if (onRun)
            onRun();
        QCoreApplication::processEvents();
    }
    void postProgress(int wParam, qint32 lParam) override { progress.append({wParam, lParam}); }
    void showPostedProgress() override {}
    void beginTransfer(std::function<void()> onCloseRequest) override { cancel = std::move(onCloseRequest); }
    void endTransfer() override { cancel = nullptr; }

    int depth = 0; // operations letting the queue run now
    int runs = 0;
    std::function<void()> onRun; // called each time the queue runs, before it does
    QList<QPair<int, qint32>> progress;
    std::function<void()> cancel; // set while a transfer runs
};
