#include "program_end.h"

#include "capture_file.h"
#include "desktop.h"
#include "form1.h"
#include "status_texts.h"

#include <QLocale>
#include <QPushButton>

namespace talvern {

ProgramEnd::ProgramEnd(Form1& window, Desktop& desktop)
    : window_(window)
    , desktop_(desktop) {
    savingNotice_.setSingleShot(true);
    connect(&savingNotice_, &QTimer::timeout, this, [this] {
        if (file_)
            window_.setStatusText(
                QStringLiteral("Saving the capture file \"%1\"...").arg(file_->name()));
    });
    signalPatience_.setSingleShot(true);
    connect(&signalPatience_, &QTimer::timeout, this, [this] {
        if (file_ && file_->syncing())
            abandon(*status_);
    });
}

ProgramEnd::~ProgramEnd() = default;

void ProgramEnd::ask(int status) {
    if (status != 0 && !signalled_) {
        signalled_ = true;
        signalPatience_.start(kSignalPatienceMs);
    }
    if (!status_ || (*status_ == 0 && status != 0))
        status_ = status;
}

void ProgramEnd::whileWaiting(int status) {
    if (status == 0)
        return askToQuit();
    // The system waits for the answer (the end of a Windows session ends the
    // process as soon as it has it): every record goes to the drive first,
    // unless the drive takes longer than the patience allows.
    while (file_ && file_->syncing())
        window_.processEvents();
}

void ProgramEnd::waitForSave(const CaptureFile& file) {
    if (!file.syncing())
        return;
    file_ = &file;
    // Nothing they would do can happen before the file is saved.
    QPushButton* const greyed[] = {window_.Command3, window_.Command4};
    const bool wereEnabled[] = {greyed[0]->isEnabled(), greyed[1]->isEnabled()};
    for (QPushButton* button : greyed)
        button->setEnabled(false);
    savingNotice_.start(kSavingNoticeMs);
    // A signal that came before this wait began has spent its patience.
    if (signalled_ && !signalPatience_.isActive())
        abandon(*status_);

    while (file.syncing())
        window_.processEvents();

    savingNotice_.stop();
    question_.reset();
    file_ = nullptr;
    for (int i = 0; i < 2; ++i)
        greyed[i]->setEnabled(wereEnabled[i]);
}

void ProgramEnd::askToQuit() {
    if (question_)
        return;
    question_ = desktop_.askToQuit(
        &window_,
        QStringLiteral("The drive has not answered for %1 while saving the capture file "
                       "\"%2\".\n\n%3\n\nQuit without waiting?")
            .arg(durationText(file_->unansweredMs()), file_->name(), unsavedRecords()),
        [this](bool quit) {
            if (quit)
                return abandon(1);
            // Wait: the question goes (it is answering now), and the next
            // Exit asks again.
            if (question_)
                question_.release()->deleteLater();
        });
}

QString ProgramEnd::unsavedRecords() const {
    const std::optional<QDateTime> saved = file_->lastConfirmedSave();
    if (!saved)
        return QStringLiteral("None of this capture's records has been confirmed on the disk "
                              "yet: if you quit now, they may not be there.");
    return QStringLiteral("The records written since the last confirmed save, at %1, may not "
                          "be on the disk if you quit now.")
        .arg(QLocale().toString(saved->time(), QStringLiteral("HH:mm:ss")));
}

void ProgramEnd::abandon(int status) {
    const std::optional<QDateTime> saved = file_->lastConfirmedSave();
    desktop_.abandon(
        status,
        QStringLiteral("TALVERN: ended without waiting for the drive to save the capture file "
                       "\"%1\"; %2 may not be on the disk")
            .arg(file_->name(),
                 saved ? QStringLiteral("the records written since %1")
                             .arg(saved->toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")))
                       : QStringLiteral("its records")));
}

} // namespace talvern
