#include "app/transfer_input_block.h"

#include <QApplication>
#include <QEvent>
#include <QWidget>

namespace {

bool isUserInput(QEvent::Type type) {
    switch (type) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::Wheel:
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::ShortcutOverride:
    case QEvent::Shortcut:
    case QEvent::ContextMenu:
    case QEvent::InputMethod:
    case QEvent::TouchBegin:
    case QEvent::TouchUpdate:
    case QEvent::TouchEnd:
    case QEvent::TouchCancel:
    case QEvent::TabletPress:
    case QEvent::TabletMove:
    case QEvent::TabletRelease:
    case QEvent::NativeGesture:
    case QEvent::Gesture:
    case QEvent::DragEnter:
    case QEvent::DragMove:
    case QEvent::Drop:
        return true;
    default:
        return false;
    }
}

} // namespace

void TransferInputBlock::install() {
    qApp->installEventFilter(this);
}

TransferInputBlock::~TransferInputBlock() {
    qApp->removeEventFilter(this);
}

bool TransferInputBlock::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::Close && watched == m_window) {
        m_onCloseRequest();
        return false;
    }
    // A modal box (the standard error box) keeps its own input, or it could never be closed.
    return isUserInput(event->type()) && !QApplication::activeModalWidget();
}
