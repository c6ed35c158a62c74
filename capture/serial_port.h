#pragma once

#include <QByteArray>
#include <QString>
#include <QtGlobal>

#include <functional>

namespace talvern {

// The errors a port's receiver has counted, each kind on its own. The counts
// only go up, but may hold errors from before the port opened, and may start
// again from 0 (a counter that wraps, an adapter plugged in again).
struct LineErrors {
    bool counted = false;      // whether the port keeps such counts at all
    quint64 framing = 0;       // a character's stop bit was missing: wrong speed or data bits
    quint64 parity = 0;        // a character's parity bit was wrong
    quint64 overrun = 0;       // the receiver's own buffer was full: bytes lost
    quint64 bufferOverrun = 0; // the system's input queue was full: bytes lost
    quint64 breaks = 0;        // the line was held low longer than a character
};

// The serial port as the capture uses it, one operation per property of the
// port component. Every operation may throw CaptureError, naming the port.
class SerialPort {
public:
    virtual ~SerialPort() = default;

    // Selects COM n; only while the port is closed.
    virtual void setCommPort(qint16 number) = 0;
    // Line settings such as "9600,N,8,1": baud, parity, data bits, stop bits.
    virtual void setSettings(const QString& settings) = 0;
    // How many bytes a read returns at most; 0 means everything waiting.
    virtual void setInputLen(qint16 length) = 0;
    // Opens (bytes received before are not seen) or closes (releases) the port.
    virtual void setPortOpen(bool open) = 0;
    virtual bool portOpen() const = 0;
    // Received bytes not read yet.
    virtual qint64 inBufferCount() = 0;
    // Takes in what the system has received for the port but not announced
    // yet, so that the next count and read include it. For the last reads
    // before the port closes; while events are handled, arrivals are announced.
    virtual void collectReceived() {}
    // Whether the line was sending as the port opened (bytes came before it had
    // been quiet a while): what arrives first may then be the end of a record
    // that began before.
    virtual bool openedMidStream() const { return false; }
    // Takes the waiting bytes, unchanged, one byte per character.
    virtual QByteArray input() = 0;
    // What the port's receiver has counted so far; a port without counters
    // (a pseudo-terminal, say) keeps the default. Never fails.
    virtual LineErrors lineErrors() { return {}; }
    // Queues bytes for sending.
    virtual void setOutput(const QByteArray& bytes) = 0;

    // Calls `handler` whenever bytes arrive or the port reports an error while
    // it is open, from whatever event loop runs at the time (a dialog's too),
    // so that what arrives is taken at once. An empty handler stops the calls.
    // A port that cannot tell keeps the default: it is polled only.
    virtual void setReceiveHandler(std::function<void()> handler) { (void)handler; }
};

} // namespace talvern
