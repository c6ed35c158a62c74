#pragma once

#include "system_capture_file.h"

// The system's capture file, counting the syncs asked of it; a sync can be
// skipped (to weigh what syncing costs) or made to fail, and so can the close.
class SyncCountingFile final : public talvern::CaptureFile {
public:
    explicit SyncCountingFile(
        talvern::DiskWorker::Runs syncs = talvern::DiskWorker::Runs::OnItsThread,
        std::function<void()> beforeFlush = {})
        : file_(syncs, std::move(beforeFlush)) {}

    void open(const QString& name) override { file_.open(name); }
    void empty() override { file_.empty(); }
    void write(QByteArrayView bytes) override { file_.write(bytes); }
    void sync() override {
        ++syncs;
        failed_ = fail;
        if (!skip && !fail)
            file_.sync();
    }
    bool syncing() const override { return file_.syncing(); }
    qint64 unansweredMs() const override { return file_.unansweredMs(); }
    std::optional<QDateTime> lastConfirmedSave() const override {
        return file_.lastConfirmedSave();
    }
    void check() override {
        if (std::exchange(failed_, false))
            throw talvern::captureFileError("Cannot save", name(), "Input/output error");
        file_.check();
    }
    void setSyncedHandler(std::function<void()> handler) override {
        file_.setSyncedHandler(std::move(handler));
    }
    void close() override {
        file_.close();
        if (!closeFails.isEmpty())
            throw talvern::captureFileError("Cannot save", name(), closeFails);
    }
    bool isOpen() const override { return file_.isOpen(); }
    QString name() const override { return file_.name(); }

    int syncs = 0;
    bool skip = false;
    bool fail = false;
    QString closeFails; // the reason a close fails with; empty: it does not

private:
    talvern::SystemCaptureFile file_;
    bool failed_ = false;
};
