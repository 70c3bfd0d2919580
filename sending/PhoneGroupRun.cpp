#include "sending/PhoneGroupRun.h"

#include "base/TsanAnnotate.h"
#include "link/GsmSerial.h"
#include "link/SerialPort.h"
#include "sending/SenderThread.h"

#include <algorithm>

struct PhoneGroupRun::Member {
    QByteArray label;
    std::unique_ptr<SerialPort> port;
    std::unique_ptr<GsmSerial> link;
    std::unique_ptr<SenderThread> sender;
    // The sender's own report lines; read once it has ended.
    QList<QByteArray> reports;
    // Set by the sender's finished signal, under the group's end lock.
    bool finishing = false;
    // The group has waited for its thread and read what it did.
    bool ended = false;
};

PhoneGroupRun::PhoneGroupRun(MessageList &outbox, const QList<QByteArray> &ports,
                             const NewSender &newSender)
    : m_outbox(outbox), m_queue(outbox) {
    for (const QByteArray &name : ports) {
        auto member = std::make_unique<Member>();
        member->label = name;
        member->port = std::make_unique<SerialPort>();
        member->link = std::make_unique<GsmSerial>(*member->port);
        member->sender.reset(newSender());
        SenderThread &sender = *member->sender;
        sender.setLink(member->link.get());
        sender.portName = [name] { return QByteArray(name.constData(), name.size()); };
        sender.reports = &member->reports;
        sender.joinGroup(m_queue, m_progress, name);
        // Emitted on the sender's thread as its last act.
        connect(
            &sender, &QThread::finished, this,
            [this, ending = member.get()] {
                {
                    std::lock_guard lock(m_endLock);
                    ending->finishing = true;
                    ++m_endedCount;
                    m_memberEnded.notify_all();
                }
                // QThread::wait's own hand-off is invisible to ThreadSanitizer.
                tsanRelease(ending->sender.get());
            },
            Qt::DirectConnection);
        m_members.push_back(std::move(member));
    }
}

PhoneGroupRun::~PhoneGroupRun() {
    // Normally every sender has ended with the run; this covers a run never started.
    for (const auto &member : m_members) {
        member->sender->stop();
        member->sender->wait();
    }
}

void PhoneGroupRun::stop() {
    WorkerThread::stop();
    for (const auto &member : m_members)
        member->sender->stop();
}

QList<PhoneRunStatus> PhoneGroupRun::phoneStatuses() const {
    QList<PhoneRunStatus> statuses;
    for (const auto &member : m_members)
        statuses << member->sender->status();
    return statuses;
}

void PhoneGroupRun::execute() {
    WorkerThread::execute();
    m_progress.begin(m_queue.pendingCount());
    m_progress.setParallel(static_cast<int>(m_members.size()));
    for (const auto &member : m_members) {
        // A stop before a sender started must not leave it running on.
        if (terminated())
            member->sender->stop();
        member->sender->start();
    }
    waitForMembers();
    for (const auto &member : m_members)
        mergeMember(*member);
    // Counted once here: the senders' own counts overlap.
    MessageList::Locker items(m_outbox);
    m_summary.notSent =
        static_cast<int>(std::count_if(items->cbegin(), items->cend(), [](const auto &message) {
            return message->status == MessageStatus::Pending;
        }));
}

void PhoneGroupRun::waitForMembers() {
    const int count = static_cast<int>(m_members.size());
    int seen = 0;
    while (seen < count) {
        {
            std::unique_lock lock(m_endLock);
            m_memberEnded.wait(lock, [&] { return m_endedCount > seen; });
            seen = m_endedCount;
        }
        m_progress.setParallel(std::max(count - seen, 1));
        for (const auto &member : m_members) {
            {
                std::lock_guard lock(m_endLock);
                if (member->ended || !member->finishing)
                    continue;
            }
            member->sender->wait();
            tsanAcquire(member->sender.get());
            member->ended = true;
            // Nothing more may go once an outcome could not be kept.
            if (member->sender->outcomeNotRecorded())
                stop();
        }
    }
    for (const auto &member : m_members) {
        member->sender->wait();
        tsanAcquire(member->sender.get());
    }
}

void PhoneGroupRun::mergeMember(const Member &member) {
    const RunSummary &part = member.sender->summary();
    m_summary.started = m_summary.started || part.started;
    m_summary.sent += part.sent;
    m_summary.unknown += part.unknown;
    for (const auto &[reason, count] : part.failedReasons)
        for (int i = 0; i < count; ++i)
            m_summary.addFailed(reason);
    for (const QByteArray &line : member.reports)
        if (!line.isEmpty())
            addReport(member.label + ": " + line);
}
