#include "desktop.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>

#include <cstdio>
#include <cstdlib>

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

namespace talvern {

std::unique_ptr<QObject> QtDesktop::askToQuit(QWidget* parent, const QString& question,
                                              std::function<void(bool)> answered) {
    auto box = std::make_unique<QMessageBox>(QMessageBox::Warning, QStringLiteral("TALVERN"),
                                             question, QMessageBox::NoButton, parent);
    box->setTextFormat(Qt::PlainText);
    QPushButton* quitting = box->addButton(QStringLiteral("Quit"), QMessageBox::DestructiveRole);
    QPushButton* waiting = box->addButton(QStringLiteral("Wait"), QMessageBox::RejectRole);
    box->setDefaultButton(waiting);
    box->setEscapeButton(waiting);
    QMessageBox* const shown = box.get();
    QObject::connect(shown, &QDialog::finished, shown,
                     [shown, quitting, answered = std::move(answered)] {
                         answered(shown->clickedButton() == quitting);
                     });
    // Over the window, which answers meanwhile: the drive may still finish.
    box->open();
    return box;
}

void QtDesktop::abandon(int status, const QString& line) {
    std::fprintf(stderr, "%s\n", line.toLocal8Bit().constData());
    std::fflush(stderr);
    // The windows go first, the question too: the process itself may stay
    // until the drive lets go of the thread it holds.
    for (QWidget* window : QApplication::topLevelWidgets())
        window->hide();
    QCoreApplication::processEvents();
    QApplication::sync();
    std::_Exit(status);
}

} // namespace talvern
