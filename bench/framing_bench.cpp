// Framing and writing in process: records of 1 to 4096 bytes (the characters
// and a CR; 1 byte is a bare CR) arriving in 4 KiB reads, framed and written to
// a file with the capture's own code; beside it, the same bytes only scanned for
// CR with memchr and written, as the limit to compare with.
#include "record_framer.h"
#include "system_capture_file.h"

#include <QDir>
#include <QTemporaryDir>

#include <benchmark/benchmark.h>

#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr qsizetype kRead = 4096;
// Files are started again after this much, so the disk does not fill up.
constexpr qsizetype kFileLimit = 256 * 1024 * 1024;

// 64 reads' worth of records of `size` bytes each, CR included.
QByteArray reads(qsizetype size) {
    QByteArray bytes;
    for (int n = 0; bytes.size() < kRead * 64; ++n)
        bytes += (QByteArray::number(n % 100000).rightJustified(8, '0') + " 12.5g")
                     .leftJustified(size - 1, '.', true) +
                 '\r';
    bytes.truncate(kRead * 64);
    return bytes;
}

// A folder in memory where the system has one, so the figures measure this
// code and the write path rather than the disk.
QString scratchFolder() {
    return QDir("/dev/shm").exists() ? QStringLiteral("/dev/shm") : QDir::tempPath();
}

void frameAndWrite(benchmark::State& state) {
    const QByteArray stream = reads(state.range(0));
    QTemporaryDir dir(scratchFolder() + "/talvern-bench-XXXXXX");
    const QString path = dir.filePath("capture.txt");
    talvern::SystemCaptureFile file;
    file.open(path);
    talvern::RecordFramer framer;
    qsizetype at = 0, written = 0, records = 0;
    for (auto _ : state) {
        const talvern::RecordFramer::Completed done =
            framer.take(QByteArrayView(stream).sliced(at, kRead));
        file.write(done.lines);
        records += done.records;
        written += done.lines.size();
        at = (at + kRead) % stream.size();
        if (written > kFileLimit) {
            state.PauseTiming();
            file.close();
            file.open(path);
            file.empty();
            written = 0;
            state.ResumeTiming();
        }
    }
    file.close();
    state.SetBytesProcessed(state.iterations() * kRead);
    state.counters["records"] = double(records);
}

void memchrAndWrite(benchmark::State& state) {
    const QByteArray stream = reads(state.range(0));
    QTemporaryDir dir(scratchFolder() + "/talvern-bench-XXXXXX");
    const QByteArray path = QFile::encodeName(dir.filePath("plain.txt"));
    int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    qsizetype at = 0, written = 0, crs = 0;
    for (auto _ : state) {
        const char* p = stream.constData() + at;
        const char* const end = p + kRead;
        while ((p = static_cast<const char*>(std::memchr(p, '\r', size_t(end - p))))) {
            ++crs;
            ++p;
        }
        if (::write(fd, stream.constData() + at, kRead) != kRead)
            state.SkipWithError("write failed");
        written += kRead;
        at = (at + kRead) % stream.size();
        if (written > kFileLimit) {
            state.PauseTiming();
            if (::ftruncate(fd, 0) != 0)
                state.SkipWithError("truncate failed");
            ::lseek(fd, 0, SEEK_SET);
            written = 0;
            state.ResumeTiming();
        }
    }
    ::close(fd);
    state.SetBytesProcessed(state.iterations() * kRead);
    state.counters["records"] = double(crs);
}

} // namespace

// Every framing figure is given for these record sizes.
void recordSizes(benchmark::internal::Benchmark* benchmark) {
    for (const int size : {1, 8, 32, 256, 4096})
        benchmark->Arg(size);
    benchmark->MinTime(0.5);
}

BENCHMARK(frameAndWrite)->Name("framing: framer + capture file")->Apply(recordSizes);
BENCHMARK(memchrAndWrite)->Name("framing: memchr + write (limit)")->Apply(recordSizes);
BENCHMARK_MAIN();
