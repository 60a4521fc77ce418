#pragma once

#include <QObject>

#include <functional>

class QWidget;

// While the transfer runs, the program's windows repaint but take no input, as if the transfer
// held the thread. A request to close the main window ends the transfer, so the window is never
// held beyond the operator's wish.
class TransferInputBlock final : public QObject {
public:
    TransferInputBlock(QWidget* window, std::function<void()> onCloseRequest)
        : m_window(window)
        , m_onCloseRequest(std::move(onCloseRequest)) {
        install();
    }
    ~TransferInputBlock() override;

    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void install();

    QWidget* const m_window;
    const std::function<void()> m_onCloseRequest;
};
