#include "comain.h"
#include "termination_signals.h"

#include <QApplication>

int main(int, char** argv) {
    // The program takes no command line: Qt sees the program's name alone.
    static int argc = 1;
    static char* args[] = {argv[0], nullptr};
    QApplication app(argc, args);
    // A logout or kill ends the program as Exit would, the file closed properly.
    talvern::TerminationSignals termination;
    COMAIN::Main();
    QObject::connect(&termination, &talvern::TerminationSignals::received, COMAIN::Form(),
                     &talvern::Form1::endBySignal);
    const int status = app.exec();
    COMAIN::End();
    return status;
}
