#pragma once

#include <QString>

#include <functional>

namespace seams {

// The few controls of the main window that an operation sets when it ends: the update command's
// button (Button3) and the hidden download command's button (Button2).
class WindowControls {
public:
    virtual ~WindowControls() = default;

    virtual void setUpdateButtonText(const QString& text) = 0;
    virtual void setUpdateButtonEnabled(bool enabled) = 0;
    virtual void setDownloadButtonEnabled(bool enabled) = 0;
};

// What a long operation may ask of the window's event queue: to let it run, so the window repaints
// and answers, and to post progress that the window shows the next time it runs.
class WindowQueue {
public:
    virtual ~WindowQueue() = default;

    // Between these two the operation lets the queue run: a close of the window waits until it ends.
    virtual void beginLettingQueueRun() = 0;
    virtual void endLettingQueueRun() = 0;
    virtual void runQueue() = 0;

    // The progress message: `wParam` 0 starts (`lParam`: the new maximum), 1 advances (`lParam`: the
    // new position). Shown when the queue runs, or at once by showPostedProgress.
    virtual void postProgress(int wParam, qint32 lParam) = 0;
    virtual void showPostedProgress() = 0;

    // While a transfer runs the windows repaint but take no input; a request to close the main
    // window calls `onCloseRequest`, which ends the transfer.
    virtual void beginTransfer(std::function<void()> onCloseRequest) = 0;
    virtual void endTransfer() = 0;

    // Holds the queue open for one operation's scope.
    class Scope {
    public:
        explicit Scope(WindowQueue& queue)
            : m_queue(queue) {
            m_queue.beginLettingQueueRun();
        }
        ~Scope() { m_queue.endLettingQueueRun(); }
        Scope(const Scope&) = delete;
        Scope& operator=(const Scope&) = delete;

    private:
        WindowQueue& m_queue;
    };
};

} // namespace seams
