#include "comain.h"

#include "form1.h"

#include <memory>

namespace COMAIN {

namespace {
talvern::UploadSettings upload;
std::unique_ptr<talvern::Form1> form;
} // namespace

talvern::UploadSettings& Upload() {
    return upload;
}

talvern::Form1* Form() {
    return form.get();
}

void Main() {
    upload.PortNumber = 1;
    if (!form)
        form = std::make_unique<talvern::Form1>(upload);
    form->show();
}

void End() {
    form.reset();
}

} // namespace COMAIN
