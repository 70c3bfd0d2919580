#include "app/Database.h"

#include "link/ComPort.h"
#include "link/GsmSerial.h"
#include "link/PhoneUnit.h"

#include <QCoreApplication>

#include "app/Errors.h"
#include "data/SafeFile.h"
#include "data/StreamIO.h"

#include <QFile>
#include <QFileInfo>

namespace {

enum TSectionTag : quint8 { stCompose = 0, stContacts = 1, stOutbox = 2, stSent = 3 };

} // namespace

TDataModule1::TDataModule1(const QString &settingsFile) {
    Settings = std::make_unique<TSettings>(
        settingsFile.isEmpty() ? SettingsFilePath(QCoreApplication::applicationDirPath())
                               : settingsFile);
    ComPort = std::make_unique<TComPort>();
    Serial = std::make_unique<TGsmSerial>(*ComPort);
    Phone = std::make_unique<TPhone>(Serial.get(), Settings.get());
    ContactList = std::make_unique<TContactList>();
    ContactList->OnChange = [this](TContactList &) { SetModified(); };
    OutboxList = std::make_unique<TMessageList>();
    OutboxList->OnChange = [this](TMessageList &) { SetModified(); };
    SentList = std::make_unique<TMessageList>();
    SentList->OnChange = [this](TMessageList &) { SetModified(); };
}

TDataModule1::~TDataModule1() {
    // A worker uses the lists, the link and the settings: it ends first.
    StopWorkerAndWait();
    SentList.reset();
    OutboxList.reset();
    ContactList.reset();
    Phone.reset();
    Serial.reset();
    ComPort.reset();
    Settings.reset();
}

void TDataModule1::StopWorkerAndWait() {
    if (Phone)
        Phone->StopAndWait();
}

int TDataModule1::MoveSentMessages() {
    return OutboxList->MoveSentTo(*SentList);
}

QString TDataModule1::Title() const {
    if (FileName.isEmpty())
        return QStringLiteral("Untitled");
    return QFileInfo(FileName).fileName();
}

void TDataModule1::New() {
    ContactList->Clear();
    OutboxList->Clear();
    SentList->Clear();
    FileName.clear();
    Modified = false;
}

void TDataModule1::Load(const QString &fileName) {
    QString name = fileName.isEmpty() ? FileName : fileName;
    QFile file(name);
    if (!file.open(QIODevice::ReadOnly))
        throw EPelorvane(file.errorString());
    bool taken = false;
    try {
        LoadFromDevice(file, &taken);
    } catch (...) {
        // A document that holds part of this file must not be saved over the previous one.
        if (taken)
            FileName = name;
        throw;
    }
    FileName = name;
    Modified = false;
}

void TDataModule1::LoadFromDevice(QIODevice &device, bool *taken) {
    TStreamReader reader(device);
    if (reader.BytesLeft() < 4)
        throw EPelorvane(QStringLiteral("Invalid file format."));
    quint8 header[4];
    reader.ReadRaw(reinterpret_cast<char *>(header), 4);
    if (header[0] != Magic0 || header[1] != Magic1)
        throw EPelorvane(QStringLiteral("Invalid file format."));
    int version = header[2];
    if (version != FileVersion)
        throw EPelorvane(QStringLiteral("Invalid file version %1").arg(version));

    // The first tag is read in any case; then sections follow while two bytes or more remain.
    do {
        switch (reader.ReadByte()) {
        case stCompose:
            Compose.LoadFromStream(reader, version);
            break;
        case stContacts:
            ContactList->LoadFromStream(reader, version);
            break;
        case stOutbox:
            OutboxList->LoadFromStream(reader, msPending, version);
            break;
        case stSent:
            SentList->LoadFromStream(reader, msSent, version);
            break;
        default:
            continue; // unknown tag: nothing read for it
        }
        if (taken)
            *taken = true;
    } while (reader.BytesLeft() >= 2);
}

bool TDataModule1::Save(bool saveAs) {
    if (FileName.isEmpty() || saveAs) {
        QString chosen = OnAskFileName ? OnAskFileName() : QString();
        if (chosen.isEmpty())
            return false;
        FileName = chosen;
    }
    WriteFileSafely(FileName, [this](QIODevice &device) { SaveToDevice(device); });
    Modified = false;
    return true;
}

void TDataModule1::SaveToDevice(QIODevice &device) const {
    TStreamWriter writer(device);
    const char header[4] = {char(Magic0), char(Magic1), char(FileVersion), 0};
    writer.WriteRaw(header, 4);
    writer.WriteByte(stCompose);
    Compose.SaveToStream(writer);
    writer.WriteByte(stContacts);
    ContactList->SaveToStream(writer);
    writer.WriteByte(stOutbox);
    OutboxList->SaveToStream(writer);
    writer.WriteByte(stSent);
    SentList->SaveToStream(writer);
    writer.Flush();
}
