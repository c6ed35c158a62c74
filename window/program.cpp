#include "program.h"

namespace talvern {

Program::Program(UploadSettings& settings, PlatformParts parts)
    : form(settings, systemSerialPort(std::move(parts.devices)), std::move(parts.dialog),
           std::move(parts.desktop))
    , file(parts.file ? std::move(parts.file) : std::make_unique<SystemCaptureFile>())
    , capture(settings, *form.Comm1, *file, form) {
    form.attach(capture);
}

} // namespace talvern
