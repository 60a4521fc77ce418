#include "app/qt_dialogs.h"

#include <QDir>
#include <QFileDialog>
#include <QMessageBox>

namespace {

void showBox(QWidget* owner, QMessageBox::Icon icon, const QString& caption, const QString& text) {
    QMessageBox box(icon, caption, text, QMessageBox::Ok, owner);
    box.exec();
}

} // namespace

void QtDialogs::messageBox(const QString& text, const QString& caption, BoxIcon icon) {
    showBox(m_owner, icon == BoxIcon::Warning ? QMessageBox::Warning : QMessageBox::NoIcon, caption, text);
}

void QtDialogs::showMessage(const QString& text) {
    showBox(m_owner, QMessageBox::NoIcon, applicationTitle(), text);
}

void QtDialogs::showError(const QString& text) {
    showBox(m_owner, QMessageBox::Critical, applicationTitle(), text);
}

std::optional<QString> QtDialogs::openFile(const OpenFileRequest& request) {
    QFileDialog dialog(m_owner, QString(), request.initialFolder, request.filter);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(request.fileMustExist ? QFileDialog::ExistingFile : QFileDialog::AnyFile);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return std::nullopt;
    return QDir::toNativeSeparators(dialog.selectedFiles().constFirst());
}
