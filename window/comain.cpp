#include "comain.h"

#include <QGuiApplication>

#include <memory>

namespace COMAIN {

namespace {
talvern::UploadSettings upload;
std::unique_ptr<talvern::Program> program;
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
        program = std::make_unique<talvern::Program>(upload, std::move(parts));
    program->form.show();
}

void End() {
    program.reset();
}

} // namespace COMAIN
