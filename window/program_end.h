#pragma once

#include <QObject>
#include <QTimer>

#include <memory>
#include <optional>

class QPushButton;

namespace talvern {

class CaptureFile;
class CaptureView;
class Desktop;
class Form1;

// How the program ends: the exit status asked for, and every wait for a
// drive on the way there, with its way out. The window waits for a drive
// only here, answering all the while; a drive may never answer (a network
// share whose server is gone), so no wait is without an end:
// - after half a second the status box says what the window waits for, and
//   Abort and Browse are greyed out until it is over;
// - Exit or a close of the window meanwhile asks whether to quit without
//   waiting; Quit ends the program at once with status 1;
// - a termination signal (or the end of the session) waits at most a few
//   seconds more, then ends the program with its status.
// A thread held inside the drive's flush is never waited for on the way out.
class ProgramEnd : public QObject {
public:
    // How long a signal waits for a drive, from the first one.
    static constexpr int kSignalPatienceMs = 5000;
    // How long a wait goes before the status box says why.
    static constexpr int kSavingNoticeMs = 500;

    ProgramEnd(Form1& window, Desktop& desktop);
    ~ProgramEnd() override;

    // An end asked for with `status`: 0 by Exit or a close, 128 + n by signal
    // n. A signal's status beats Exit's, and the first signal's any later one.
    void ask(int status);
    // The status asked for, if any was.
    std::optional<int> asked() const { return status_; }
    // The window waits for a drive now.
    bool waiting() const { return file_ != nullptr; }
    // While waiting, an end asked for: Exit or a close (`status` 0) asks
    // whether to quit without waiting; a signal returns only once the file is
    // saved, or ends the program when its patience runs out.
    void whileWaiting(int status);
    // Runs the window's events until `file` has no sync under way.
    void waitForSave(const CaptureFile& file);

private:
    void askToQuit();
    // Ends the program now, without waiting for the drive.
    void abandon(int status);
    // What may be missing from the disk, in a few words.
    QString unsavedRecords() const;

    Form1& window_;
    Desktop& desktop_;
    std::optional<int> status_;
    bool signalled_ = false;
    const CaptureFile* file_ = nullptr; // waited for now
    QTimer savingNotice_;
    QTimer signalPatience_;
    std::unique_ptr<QObject> question_; // whether to quit without waiting, while it shows
};

} // namespace talvern
