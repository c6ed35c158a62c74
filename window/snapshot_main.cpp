// Renders the window, as it looks at start, to a PNG without a display:
//     talvern_snapshot window.png
#include "comain.h"
#include "form1.h"

#include <QApplication>
#include <QPixmap>

#include <cstdio>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTPUT.png\n", argv[0]);
        return 2;
    }
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    COMAIN::Main();
    const bool saved = COMAIN::Form()->grab().save(QString::fromLocal8Bit(argv[1]), "PNG");
    COMAIN::End();
    if (!saved) {
        std::fprintf(stderr, "cannot write %s\n", argv[1]);
        return 1;
    }
    return 0;
}
