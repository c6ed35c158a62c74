#include "desktop.h"

#include <QApplication>
#include <QMessageBox>

namespace talvern {

void QtDesktop::beep() {
    QApplication::beep();
}

namespace {

void showMessage(QWidget* parent, QMessageBox::Icon icon, const QString& message) {
    // Plain text always: a file name such as "<b>x</b>" must show as typed.
    QMessageBox box(icon, QStringLiteral("TALVERN"), message, QMessageBox::Ok, parent);
    box.setTextFormat(Qt::PlainText);
    box.exec();
}

} // namespace

void QtDesktop::showFailure(QWidget* parent, const QString& message) {
    showMessage(parent, QMessageBox::Critical, message);
}

void QtDesktop::showNotice(QWidget* parent, const QString& message) {
    showMessage(parent, QMessageBox::Warning, message);
}

void QtDesktop::quit(int status) {
    QCoreApplication::exit(status);
}

} // namespace talvern
