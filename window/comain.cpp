#include "comain.h"

#include <QGuiApplication>

#include <utility>

namespace COMAIN {

namespace {
talvern::UploadSettings upload;
// Made by Main, destroyed by End. Not a static object with a destructor: when
// the windowing system goes away, Qt ends the process with exit(), and a window
// destroyed after that point would crash.
talvern::Program* program = nullptr;
} // namespace

talvern::UploadSettings& Upload() {
    return upload;
}

talvern::Form1* Form() {
    return program ? &program->form : nullptr;
}

void Main(talvern::PlatformParts parts) {
    // The window ends the program itself (Exit, closing it, a failure), with the
    // exit status that goes with how it ended; Qt must not end it on its own.
    QGuiApplication::setQuitOnLastWindowClosed(false);
    upload.PortNumber = 1;
    if (!program)
        program = new talvern::Program(upload, std::move(parts));
    program->form.show();
}

void End() {
    delete program;
    program = nullptr;
}

} // namespace COMAIN
