#include "desktop.h"

#include <QApplication>
#include <QMessageBox>

namespace talvern {

void QtDesktop::beep() {
    QApplication::beep();
}

void QtDesktop::showFailure(QWidget* parent, const QString& message) {
    // Plain text always: a file name such as "<b>x</b>" must show as typed.
    QMessageBox box(QMessageBox::Critical, QStringLiteral("TALVERN"), message, QMessageBox::Ok,
                    parent);
    box.setTextFormat(Qt::PlainText);
    box.exec();
}

void QtDesktop::quit(int status) {
    QCoreApplication::exit(status);
}

} // namespace talvern
