#include "app/AppData.h"

#include "link/GsmSerial.h"
#include "link/Phone.h"
#include "link/SerialPort.h"
#include "sending/SenderThread.h"

#include <QCoreApplication>

#include "base/Error.h"
#include "base/SafeFile.h"
#include "base/StreamIO.h"

#include <QFile>
#include <QFileInfo>

namespace {

enum class SectionTag : quint8 { Compose = 0, Contacts = 1, Outbox = 2, Sent = 3 };

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
}

AppData::~AppData() {
    // A worker uses the lists, the link and the settings: it ends first.
    stopWorkerAndWait();
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

SenderThread *AppData::newSender() {
    return new SenderThread(*outboxList, *contactList, onRefreshAll,
                            [s = settings.get()] { return s->takeLongMessageReference(); });
}

void AppData::newProject() {
    contactList->clear();
    outboxList->clear();
    sentList->clear();
    fileName.clear();
    modified = false;
}

void AppData::load(const QString &path) {
    QString name = path.isEmpty() ? fileName : path;
    QFile file(name);
    if (!file.open(QIODevice::ReadOnly))
        throw Error(file.errorString());
    bool taken = false;
    try {
        loadFromDevice(file, &taken);
    } catch (...) {
        // A document that holds part of this file must not be saved over the previous one.
        if (taken)
            fileName = name;
        throw;
    }
    fileName = name;
    modified = false;
}

void AppData::loadFromDevice(QIODevice &device, bool *taken) {
    StreamReader reader(device);
    if (reader.bytesLeft() < 4)
        throw Error(QStringLiteral("Invalid file format."));
    quint8 header[4];
    reader.readRaw(reinterpret_cast<char *>(header), 4);
    if (header[0] != Magic0 || header[1] != Magic1)
        throw Error(QStringLiteral("Invalid file format."));
    int version = header[2];
    if (version != FileVersion)
        throw Error(QStringLiteral("Invalid file version %1").arg(version));

    // The first tag is read in any case; then sections follow while two bytes or more remain.
    do {
        switch (static_cast<SectionTag>(reader.readByte())) {
        case SectionTag::Compose:
            compose.loadFromStream(reader, version);
            break;
        case SectionTag::Contacts:
            contactList->loadFromStream(reader, version);
            break;
        case SectionTag::Outbox:
            outboxList->loadFromStream(reader, MessageStatus::Pending, version);
            break;
        case SectionTag::Sent:
            sentList->loadFromStream(reader, MessageStatus::Sent, version);
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
        fileName = chosen;
    }
    writeFileSafely(fileName, [this](QIODevice &device) { saveToDevice(device); });
    modified = false;
    return true;
}

void AppData::saveToDevice(QIODevice &device) const {
    StreamWriter writer(device);
    const char header[4] = {char(Magic0), char(Magic1), char(FileVersion), 0};
    writer.writeRaw(header, 4);
    writer.writeByte(quint8(SectionTag::Compose));
    compose.saveToStream(writer);
    writer.writeByte(quint8(SectionTag::Contacts));
    contactList->saveToStream(writer);
    writer.writeByte(quint8(SectionTag::Outbox));
    outboxList->saveToStream(writer);
    writer.writeByte(quint8(SectionTag::Sent));
    sentList->saveToStream(writer);
    writer.flush();
}
