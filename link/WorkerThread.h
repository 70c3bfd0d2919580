#pragma once

#include <QByteArray>
#include <QList>
#include <QThread>

#include <atomic>
#include <functional>

class GsmSerial;

// Base of the worker threads that talk to the phone. A worker is created suspended (not
// started), handed to Phone::start, and destroys itself after its end handler has run on
// the UI thread. It reaches the UI thread only through Synchronize.
class WorkerThread : public QThread {
    Q_OBJECT
public:
    WorkerThread();
    ~WorkerThread() override;

    // Both set by Phone::start before the thread runs.
    void setLink(GsmSerial *link) { m_link = link; }
    GsmSerial *link() const { return m_link; }
    QList<QByteArray> *reports = nullptr;
    // Gives the port name; the worker asks just before it opens the link.
    using PortNameSource = std::function<QByteArray()>;
    PortNameSource portName;

    // Whether Stop also aborts the link's current wait. A worker clears it for the one
    // exchange that must run to its end (the phone taking a message body).
    std::atomic<bool> abortLinkOnStop{true};

    // Terminate request, then (while allowed) the link's Aborted latch.
    void stop();
    bool terminated() const { return isInterruptionRequested(); }

protected:
    // The thread body; workers call the base first, then do their own work.
    virtual void execute() {}
    void addReport(const QByteArray &line);
    // Runs fn on the UI thread and waits for it; runs it at once when already there.
    static void synchronize(const std::function<void()> &fn);

private:
    void run() final;

    GsmSerial *m_link = nullptr;
};
