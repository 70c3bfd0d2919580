#pragma once

#include "sending/OutboxQueue.h"
#include "sending/PhoneRunStatus.h"
#include "sending/SendingWorker.h"

#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

class GsmSerial;
class SenderThread;
class SerialPort;

// A run over several phones at once: one sender per phone, each on its own port and thread,
// all claiming from one queue of the outbox, so that each message goes through exactly one
// phone. A phone that cannot start or stops sending (its SIM, the network, the same refusal
// again and again, the line hung up) ends alone and hands back what it could not send; the
// others go on. An outcome that cannot be recorded ends every phone. The run ends when every
// phone has ended, with the summary of all; each report line names its phone.
class PhoneGroupRun : public SendingWorker {
    Q_OBJECT
public:
    // Makes the sender of one phone, created suspended; called once per port, here.
    using NewSender = std::function<SenderThread *()>;

    // ports: distinct, as the user gave them (they name the phones in reports and records).
    PhoneGroupRun(MessageList &outbox, const QList<QByteArray> &ports, const NewSender &newSender);
    ~PhoneGroupRun() override;

    // Stops every phone's sender.
    void stop() override;

    const RunSummary &summary() const override { return m_summary; }
    const RunProgress &progress() const override { return m_progress; }
    QList<PhoneRunStatus> phoneStatuses() const override;

protected:
    void execute() override;

private:
    struct Member;

    void waitForMembers();
    void mergeMember(const Member &member);

    MessageList &m_outbox;
    OutboxQueue m_queue;
    std::vector<std::unique_ptr<Member>> m_members;
    RunProgress m_progress;
    RunSummary m_summary;
    std::mutex m_endLock;
    std::condition_variable m_memberEnded;
    int m_endedCount = 0;
};
