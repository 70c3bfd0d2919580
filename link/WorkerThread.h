#pragma once

#include <QByteArray>
#include <QList>
#include <QThread>

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>

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

    // Whether Stop also aborts the link's current wait at once. A worker clears it for the one
    // exchange that should run to its end (the phone taking a message body); a stop then
    // gives that exchange StopGraceMs to finish, so that a phone that keeps talking without
    // answering cannot hold the run.
    std::atomic<bool> abortLinkOnStop{true};
    static constexpr int StopGraceMs = 600;

    // Terminate request, then the link's Aborted latch (at once, or after the grace). Ends a
    // pause at once. Safe from any thread.
    virtual void stop();
    bool terminated() const { return m_stopRequested; }

protected:
    // The thread body; workers call the base first, then do their own work.
    virtual void execute() {}
    void addReport(const QByteArray &line);
    // Runs fn on the UI thread and waits for it; runs it at once when already there.
    static void synchronize(const std::function<void()> &fn);
    // Waits ms milliseconds on the worker's thread; false, at once, when stopped.
    bool pause(int ms);

private:
    void run() final;

    GsmSerial *m_link = nullptr;
    // Sequentially consistent, as abortLinkOnStop: a stop and the worker's switch of that flag
    // always see one another.
    std::atomic<bool> m_stopRequested{false};
    std::mutex m_pauseLock;
    std::condition_variable m_pauseEnd;
};
