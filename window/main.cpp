#include "comain.h"
#include "termination_signals.h"

#include <QApplication>

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    // A logout or kill ends the program as Exit would, the file closed properly.
    talvern::TerminationSignals termination;
    COMAIN::Main();
    QObject::connect(&termination, &talvern::TerminationSignals::received, COMAIN::Form(),
                     &talvern::Form1::endBySignal);
    const int status = app.exec();
    COMAIN::End();
    return status;
}
