#include "app/AppData.h"

#include "app/ProjectJournal.h"
#include "app/ProjectLock.h"
#include "link/GsmSerial.h"
#include "link/Phone.h"
#include "link/SerialPort.h"
#include "sending/PhoneGroupRun.h"
#include "sending/SenderThread.h"
#include "sending/SmppSenderThread.h"

#include <QCoreApplication>

#include "base/Error.h"
#include "base/SafeFile.h"
#include "base/StreamIO.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QFileInfo>

namespace {

enum class SectionTag : quint8 {
    Compose = 0,
    Contacts = 1,
    Outbox = 2,
    Sent = 3,
    // Version 11: sections from here on carry their length.
    OutboxStates = 4,
    MessageDetails = 5,
};

// The state of one outbox message that version 10 cannot hold.
struct MessageState {
    qint32 index = 0;
    MessageStatus status = MessageStatus::Pending;
    qint32 acceptedParts = 0;
    qint32 partReference = -1;
    QString reason;
    QByteArray error;
};

bool sameContent(const MessageRecord &a, const Message &b) {
    return a.number() == b.number && a.textView() == QStringView(b.text) &&
           a.created == b.created && a.flash == b.flash && a.isLong == b.isLong;
}

// The outbox states a save must keep: a message that is sent but not yet moved, failed or
// unknown, one with parts the phone took, one with a reason. A message the phone is taking
// (inFlight) is Unknown should the program end before its outcome is in the journal.
QList<MessageState> outboxStates(const MessageList::Items &items, QList<Message> inFlight) {
    QList<MessageState> states;
    for (qsizetype i = 0; i < qsizetype(items.size()); ++i) {
        const MessageRecord &m = *items[i];
        MessageState state;
        state.index = qint32(i);
        state.status = m.status;
        state.reason = m.reason();
        state.error = m.error();
        if (m.status == MessageStatus::Sending) {
            // Each message in flight marks one claimed record: identical ones are interchangeable.
            const auto taken = std::find_if(inFlight.begin(), inFlight.end(),
                                            [&m](const Message &f) { return sameContent(m, f); });
            if (taken != inFlight.end()) {
                inFlight.erase(taken);
                state.status = MessageStatus::Unknown;
                state.reason = inFlightReason();
                state.error.clear();
            } else {
                state.status = MessageStatus::Pending;
            }
        }
        if (m.acceptedParts() != 0 && state.status != MessageStatus::Sent) {
            state.acceptedParts = m.acceptedParts();
            state.partReference = m.partReference();
        }
        if (state.status == MessageStatus::Pending && state.acceptedParts == 0 &&
            state.reason.isEmpty() && state.error.isEmpty())
            continue;
        states.append(state);
    }
    return states;
}

QByteArray encodeStates(const QList<MessageState> &states) {
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    StreamWriter writer(buffer);
    writer.writeInt32(qint32(states.size()));
    for (const MessageState &state : states) {
        writer.writeInt32(state.index);
        writer.writeByte(quint8(state.status));
        writer.writeInt32(state.acceptedParts);
        writer.writeInt32(state.partReference);
        writer.writeWide(state.reason);
        writer.writeAnsi(state.error);
    }
    writer.flush();
    return buffer.data();
}

// Each entry as small as an index, a status, two numbers and two empty fields.
constexpr qint64 EmptyStateSize = 4 + 1 + 4 + 4 + 4 + 4;

QList<MessageState> decodeStates(const QByteArray &payload, int outboxCount) {
    QBuffer buffer;
    buffer.setData(payload);
    buffer.open(QIODevice::ReadOnly);
    StreamReader reader(buffer);
    const qint32 count = reader.readInt32();
    if (count < 0 || count * EmptyStateSize > reader.bytesLeft())
        StreamReader::fail();
    QList<MessageState> states;
    states.reserve(count);
    for (qint32 i = 0; i < count; ++i) {
        MessageState state;
        state.index = reader.readInt32();
        const quint8 status = reader.readByte();
        if (state.index < 0 || state.index >= outboxCount ||
            (status != quint8(MessageStatus::Pending) && status != quint8(MessageStatus::Sent) &&
             status != quint8(MessageStatus::Failed) && status != quint8(MessageStatus::Unknown)))
            StreamReader::fail();
        state.status = MessageStatus(status);
        state.acceptedParts = reader.readInt32();
        state.partReference = reader.readInt32();
        if (state.acceptedParts < 0 || state.acceptedParts > 0xFFFF || state.partReference < -1 ||
            state.partReference > 0xFF)
            StreamReader::fail();
        state.reason = reader.readWide();
        state.error = reader.readAnsi();
        states.append(state);
    }
    return states;
}

void applyStates(MessageList &outbox, const QList<MessageState> &states) {
    MessageList::Locker items(outbox);
    for (const MessageState &state : states) {
        if (state.index >= qint32(items->size()))
            continue;
        MessageRecord &m = *(*items)[state.index];
        m.status = state.status;
        m.setAcceptedParts(quint16(state.acceptedParts));
        m.setPartReference(qint16(state.partReference));
        m.setReason(state.reason);
        m.setError(state.error);
    }
}

// Which phone sent a message and what the SMS centre said of it, for either list.
struct MessageDetail {
    SectionTag list = SectionTag::Outbox;
    qint32 index = 0;
    QString phone;
    QByteArray messageId;
    DeliveryState delivery = DeliveryState::None;
    QString deliveryDetail;
};

void collectDetails(const MessageList::Items &items, SectionTag list,
                    QList<MessageDetail> &details) {
    for (qsizetype i = 0; i < qsizetype(items.size()); ++i) {
        const MessageRecord &m = *items[i];
        if (m.phone().isEmpty() && m.messageId().isEmpty() && m.delivery() == DeliveryState::None &&
            m.deliveryDetail().isEmpty())
            continue;
        details.append(
            {list, qint32(i), m.phone(), m.messageId(), m.delivery(), m.deliveryDetail()});
    }
}

QByteArray encodeDetails(const QList<MessageDetail> &details) {
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    StreamWriter writer(buffer);
    writer.writeInt32(qint32(details.size()));
    for (const MessageDetail &detail : details) {
        writer.writeByte(quint8(detail.list));
        writer.writeInt32(detail.index);
        writer.writeWide(detail.phone);
        writer.writeAnsi(detail.messageId);
        writer.writeByte(quint8(detail.delivery));
        writer.writeWide(detail.deliveryDetail);
    }
    writer.flush();
    return buffer.data();
}

// Each entry as small as a list byte, an index, three empty fields and a state.
constexpr qint64 EmptyDetailSize = 1 + 4 + 4 + 4 + 1 + 4;

void applyDetails(const QByteArray &payload, MessageList &outbox, MessageList &sent) {
    QBuffer buffer;
    buffer.setData(payload);
    buffer.open(QIODevice::ReadOnly);
    StreamReader reader(buffer);
    const qint32 count = reader.readInt32();
    if (count < 0 || count * EmptyDetailSize > reader.bytesLeft())
        StreamReader::fail();
    QList<MessageDetail> details;
    details.reserve(count);
    for (qint32 i = 0; i < count; ++i) {
        MessageDetail detail;
        const quint8 list = reader.readByte();
        if (list != quint8(SectionTag::Outbox) && list != quint8(SectionTag::Sent))
            StreamReader::fail();
        detail.list = SectionTag(list);
        detail.index = reader.readInt32();
        const qint32 listCount = detail.list == SectionTag::Outbox ? outbox.count() : sent.count();
        if (detail.index < 0 || detail.index >= listCount)
            StreamReader::fail();
        detail.phone = reader.readWide();
        detail.messageId = reader.readAnsi();
        const quint8 delivery = reader.readByte();
        if (delivery > quint8(DeliveryState::Expired))
            StreamReader::fail();
        detail.delivery = DeliveryState(delivery);
        detail.deliveryDetail = reader.readWide();
        details.append(detail);
    }
    // Read whole before anything changes: a broken section leaves the lists as they were.
    MessageList::Locker outboxItems(outbox);
    MessageList::Locker sentItems(sent);
    for (const MessageDetail &detail : std::as_const(details)) {
        MessageList::Items &items =
            detail.list == SectionTag::Outbox ? outboxItems.items() : sentItems.items();
        MessageRecord &m = *items[detail.index];
        m.setPhone(detail.phone);
        m.setMessageId(detail.messageId);
        m.setDelivery(detail.delivery, detail.deliveryDetail);
    }
}

bool hasSentInOutbox(MessageList &outbox) {
    MessageList::Locker items(outbox);
    for (const auto &item : *items)
        if (item->status == MessageStatus::Sent)
            return true;
    return false;
}

} // namespace

AppData::AppData(const QString &settingsFile) {
    settings = std::make_unique<Settings>(
        settingsFile.isEmpty() ? settingsFilePath(QCoreApplication::applicationDirPath())
                               : settingsFile);
    comPort = std::make_unique<SerialPort>();
    serial = std::make_unique<GsmSerial>(*comPort);
    phone =
        std::make_unique<Phone>(serial.get(), [s = settings.get()] { return s->comPortName(); });
    contactList = std::make_unique<ContactList>();
    contactList->onChange = [this](ContactList &) { setModified(); };
    // Messages go to numbers parsed with the settings' country: the contacts' are read alike.
    contactList->setCountrySource([s = settings.get()] { return s->country(); });
    outboxList = std::make_unique<MessageList>();
    outboxList->onChange = [this](MessageList &) { setModified(); };
    sentList = std::make_unique<MessageList>();
    sentList->onChange = [this](MessageList &) { setModified(); };
    journal = std::make_unique<ProjectJournal>();
}

AppData::~AppData() {
    // A worker uses the lists, the link and the settings: it ends first.
    stopWorkerAndWait();
    // The program ends: an untitled document's journal goes with it (its close question was
    // asked), a project file's stays for its next load.
    journal->close();
    m_lock.reset();
    journal.reset();
    sentList.reset();
    outboxList.reset();
    contactList.reset();
    phone.reset();
    serial.reset();
    comPort.reset();
    settings.reset();
}

void AppData::stopWorkerAndWait() {
    if (phone)
        phone->stopAndWait();
}

int AppData::moveSentMessages() {
    return outboxList->moveSentTo(*sentList);
}

QString AppData::title() const {
    if (fileName.isEmpty())
        return QStringLiteral("Untitled");
    return QFileInfo(fileName).fileName();
}

SendingWorker *AppData::newSender() {
    // A name that was never written has no file for a journal to apply to: the run is kept as
    // an untitled one's is, with the whole document.
    const bool titled = !fileName.isEmpty() && !fileIdentity.isNull();
    journal->open(titled ? fileName : QString(), fileIdentity, [this] { return projectBytes({}); });
    if (settings->connectionKind() == ConnectionKind::SmsCentre) {
        const SmppSettings smpp = settings->smppSettings();
        SmppRunOptions options;
        options.config = smppConfig();
        options.source = smpp.source;
        options.receipts = smpp.receipts;
        options.latin1Default = smpp.latin1Default;
        options.country = settings->country();
        options.sentListChanged = [this] { setModified(); };
        return new SmppSenderThread(
            *outboxList, *sentList, *contactList, *journal, onRefreshAll,
            [s = settings.get()] { return s->takeLongMessageReference(); }, std::move(options));
    }
    SendOptions options;
    options.retryDelaysMs = settings->retryDelaysMs();
    options.stopAtFirstRefusal = settings->stopAtFirstRefusal();
    options.serviceCentre = settings->serviceCentre();
    options.readiness = readiness;
    options.readiness.networkWaitMs = settings->networkWaitMs();
    options.pace = settings->pacePlan();
    options.clock = clock;
    if (startAt.isValid() && !options.pace.startAt.isValid())
        options.pace.startAt =
            PacePlan::nextAt(startAt, clock ? clock->now() : QDateTime::currentDateTime());
    options.ledger = &settings->sentLedger();
    const QList<QByteArray> ports = settings->sendingPorts();
    if (ports.isEmpty())
        throw Error(QStringLiteral("Every phone is switched off: switch one on in the Phone "
                                   "folder to send."));
    const auto newPhoneSender = [this, &options] {
        return new SenderThread(
            *outboxList, *contactList, *journal, onRefreshAll,
            [s = settings.get()] { return s->takeLongMessageReference(); }, options);
    };
    if (ports.size() > 1)
        return new PhoneGroupRun(*outboxList, ports, newPhoneSender);
    SenderThread *sender = newPhoneSender();
    // The phone's own port source names the first phone; a run through another one says so.
    if (ports.first() != settings->comPortName())
        sender->portName = [port = ports.first()] { return port; };
    return sender;
}

SmppConfig AppData::smppConfig() const {
    const SmppSettings smpp = settings->smppSettings();
    SmppConfig config;
    config.host = smpp.host;
    config.port = static_cast<quint16>(smpp.port);
    config.tls = smpp.tls;
    if (smpp.tls && !smpp.certificate.isEmpty()) {
        config.trustedCertificates = QSslCertificate::fromPath(smpp.certificate);
        if (config.trustedCertificates.isEmpty())
            throw Error(QStringLiteral("No certificate can be read from %1: it must be a PEM file "
                                       "holding the SMS centre's certificate.")
                            .arg(QDir::toNativeSeparators(smpp.certificate)));
    }
    config.systemId = smpp.systemId.toLatin1();
    config.systemType = smpp.systemType.toLatin1();
    config.bindMode = smpp.bindMode;
    config.window = smpp.window;
    config.maxPerSecond = smpp.rate;
    if (smppPassword)
        config.password = smppPassword().value_or(QByteArray());
    return config;
}

std::unique_ptr<ProjectLock> AppData::newLock(const QString &path) const {
    if (lockHolder.isEmpty() || path.isEmpty())
        return nullptr;
    if (m_lock && m_lock->isHeld() && m_lock->projectFile() == ProjectLock::canonicalPath(path))
        return nullptr;
    auto lock = std::make_unique<ProjectLock>();
    lock->acquire(path, lockHolder, waitForLock, onWaitForLock);
    return lock;
}

void AppData::lockProject(const QString &path) {
    if (std::unique_ptr<ProjectLock> lock = newLock(path))
        m_lock = std::move(lock);
}

QString AppData::lockedFile() const {
    return m_lock ? m_lock->projectFile() : QString();
}

QStringList AppData::unsavedUntitledProjects() {
    return ProjectJournal::orphanedUntitled();
}

void AppData::discardUntitled(const QString &journalPath) {
    QFile::remove(journalPath);
}

void AppData::recoverUntitled(const QString &journalPath) {
    const std::optional<JournalContent> content = readJournalFile(journalPath);
    if (!content || !content->untitled)
        throw Error(QStringLiteral("The unsaved project cannot be read from %1")
                        .arg(QDir::toNativeSeparators(journalPath)));
    QBuffer snapshot;
    snapshot.setData(content->snapshot);
    snapshot.open(QIODevice::ReadOnly);
    contactList->clear();
    outboxList->clear();
    sentList->clear();
    loadFromDevice(snapshot);
    lastFold = foldJournal(content->records, *outboxList, *contactList);
    if (hasSentInOutbox(*outboxList))
        moveSentMessages();
    journal->adoptUntitled(journalPath);
    m_lock.reset();
    fileName.clear();
    fileIdentity = ProjectIdentity();
    modified = true;
}

void AppData::newProject() {
    journal->close();
    m_lock.reset();
    fileIdentity = ProjectIdentity();
    contactList->clear();
    outboxList->clear();
    sentList->clear();
    fileName.clear();
    modified = false;
}

void AppData::load(const QString &path) {
    const QString name = path.isEmpty() ? fileName : path;
    std::unique_ptr<ProjectLock> lock = newLock(name);
    const QByteArray bytes = readFileSafely(name);
    QBuffer buffer;
    buffer.setData(bytes);
    buffer.open(QIODevice::ReadOnly);
    bool taken = false;
    // The document is this file's from the first section on: its lock, its journal.
    auto takeOver = [&] {
        fileName = name;
        fileIdentity = ProjectIdentity::of(bytes);
        if (lock)
            m_lock = std::move(lock);
        journal->close();
    };
    try {
        loadFromDevice(buffer, &taken);
    } catch (...) {
        // A document that holds part of this file must not be saved over the previous one.
        if (taken)
            takeOver();
        throw;
    }
    takeOver();
    lastFold = FoldResult();
    if (const QString journalPath = ProjectJournal::existingFor(name); !journalPath.isEmpty()) {
        const std::optional<JournalContent> content = readJournalFile(journalPath);
        // A journal of other content was folded into the file by the save that made it.
        if (content && !content->untitled && content->identity == fileIdentity)
            lastFold = foldJournal(content->records, *outboxList, *contactList);
    }
    const bool moved = hasSentInOutbox(*outboxList) && moveSentMessages() > 0;
    modified = lastFold.any() || moved;
}

void AppData::loadFromDevice(QIODevice &device, bool *taken) {
    StreamReader reader(device);
    if (reader.bytesLeft() < 4)
        throw Error(QStringLiteral("Invalid file format."));
    quint8 header[4];
    reader.readRaw(reinterpret_cast<char *>(header), 4);
    if (header[0] != Magic0 || header[1] != Magic1)
        throw Error(QStringLiteral("Invalid file format."));
    const int version = header[2];
    if (version != FileVersion && version != ExtendedFileVersion)
        throw Error(QStringLiteral("Invalid file version %1").arg(version));
    // Version 11 keeps the four sections of version 10 as they are.
    const int listVersion = FileVersion;

    // The first tag is read in any case; then sections follow while two bytes or more remain.
    do {
        const quint8 tag = reader.readByte();
        if (version == ExtendedFileVersion && tag >= quint8(SectionTag::OutboxStates)) {
            const qint32 length = reader.readInt32();
            if (length < 0 || length > reader.bytesLeft())
                StreamReader::fail();
            QByteArray payload(length, Qt::Uninitialized);
            reader.readRaw(payload.data(), length);
            if (tag == quint8(SectionTag::OutboxStates))
                applyStates(*outboxList, decodeStates(payload, outboxList->count()));
            else if (tag == quint8(SectionTag::MessageDetails))
                applyDetails(payload, *outboxList, *sentList);
            else
                continue; // a section of a later version: skipped whole
            if (taken)
                *taken = true;
            continue;
        }
        switch (static_cast<SectionTag>(tag)) {
        case SectionTag::Compose:
            compose.loadFromStream(reader, listVersion);
            break;
        case SectionTag::Contacts:
            contactList->loadFromStream(reader, listVersion);
            break;
        case SectionTag::Outbox:
            outboxList->loadFromStream(reader, MessageStatus::Pending, listVersion);
            break;
        case SectionTag::Sent:
            sentList->loadFromStream(reader, MessageStatus::Sent, listVersion);
            break;
        default:
            continue; // unknown tag: nothing read for it
        }
        if (taken)
            *taken = true;
    } while (reader.bytesLeft() >= 2);
}

bool AppData::save(bool saveAs) {
    if (fileName.isEmpty() || saveAs) {
        QString chosen = onAskFileName ? onAskFileName() : QString();
        if (chosen.isEmpty())
            return false;
        // Another program's file is not taken over, not even by name.
        std::unique_ptr<ProjectLock> lock = newLock(chosen);
        fileName = chosen;
        if (lock)
            m_lock = std::move(lock);
    } else {
        lockProject(fileName);
    }
    ProjectIdentity written;
    journal->saveExclusive(
        fileName,
        [&](const QList<Message> &inFlight) {
            const QByteArray bytes = projectBytes(inFlight);
            writeFileSafely(fileName, bytes);
            written = ProjectIdentity::of(bytes);
            return written;
        },
        phone && phone->isBusy());
    fileIdentity = written;
    modified = false;
    return true;
}

QByteArray AppData::projectBytes(const QList<Message> &inFlight) const {
    QBuffer buffer;
    buffer.open(QIODevice::WriteOnly);
    saveToDevice(buffer, inFlight);
    return buffer.data();
}

void AppData::saveToDevice(QIODevice &device, const QList<Message> &inFlight) const {
    // The outbox's states and its records are taken under one hold of its lock (outbox before
    // contacts and sent list, as everywhere).
    MessageList::Locker outbox(*outboxList);
    const QList<MessageState> states = outboxStates(outbox.items(), inFlight);
    QList<MessageDetail> details;
    collectDetails(outbox.items(), SectionTag::Outbox, details);
    {
        MessageList::Locker sent(*sentList);
        collectDetails(sent.items(), SectionTag::Sent, details);
    }
    const quint8 version =
        states.isEmpty() && details.isEmpty() ? FileVersion : ExtendedFileVersion;
    StreamWriter writer(device);
    const char header[4] = {char(Magic0), char(Magic1), char(version), 0};
    writer.writeRaw(header, 4);
    writer.writeByte(quint8(SectionTag::Compose));
    compose.saveToStream(writer);
    writer.writeByte(quint8(SectionTag::Contacts));
    contactList->saveToStream(writer);
    writer.writeByte(quint8(SectionTag::Outbox));
    outboxList->saveToStream(writer);
    writer.writeByte(quint8(SectionTag::Sent));
    sentList->saveToStream(writer);
    if (!states.isEmpty()) {
        const QByteArray payload = encodeStates(states);
        writer.writeByte(quint8(SectionTag::OutboxStates));
        writer.writeInt32(qint32(payload.size()));
        writer.writeRaw(payload.constData(), payload.size());
    }
    if (!details.isEmpty()) {
        const QByteArray payload = encodeDetails(details);
        writer.writeByte(quint8(SectionTag::MessageDetails));
        writer.writeInt32(qint32(payload.size()));
        writer.writeRaw(payload.constData(), payload.size());
    }
    writer.flush();
}
