#include "comain.h"

#include <QApplication>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    COMAIN::Main();
    const int status = app.exec();
    COMAIN::End();
    return status;
}
