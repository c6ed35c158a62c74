#pragma once

#include "system_capture_file.h"

// The system's capture file, counting its syncs; a sync can be skipped (to
// weigh what syncing costs) or made to fail.
class SyncCountingFile final : public talvern::CaptureFile {
public:
    void open(const QString& name) override { file_.open(name); }
    void empty() override { file_.empty(); }
    void write(QByteArrayView bytes) override { file_.write(bytes); }
    void sync() override {
        ++syncs;
        if (fail)
            throw talvern::captureFileError("Cannot save", name(), "Input/output error");
        if (!skip)
            file_.sync();
    }
    void close() override { file_.close(); }
    bool isOpen() const override { return file_.isOpen(); }
    QString name() const override { return file_.name(); }

    int syncs = 0;
    bool skip = false;
    bool fail = false;

private:
    talvern::SystemCaptureFile file_;
};
