#include "sending/GetInfoThread.h"

#include "app/Errors.h"
#include "app/Setting.h"
#include "link/GsmSerial.h"

#include <limits>

namespace {

// The device's integers may carry blanks around them; anything else is an error, as is a
// value outside 32 bits.
int ToInteger(const QByteArray &field) {
    bool ok = false;
    const qlonglong value = field.trimmed().toLongLong(&ok, 10);
    if (!ok || value < std::numeric_limits<int>::min() || value > std::numeric_limits<int>::max())
        throw EPelorvane(
            QStringLiteral("'%1' is not a valid integer value").arg(QString::fromLocal8Bit(field)));
    return int(value);
}

struct TLinkCloser {
    TGsmLink &Link;
    ~TLinkCloser() { Link.Close(); }
};

} // namespace

const std::array<QByteArray, TGetInfoThread::RowCount> TGetInfoThread::RowCaptions = {
    QByteArrayLiteral("Battery Level"), QByteArrayLiteral("Manufacturer"),
    QByteArrayLiteral("Model"), QByteArrayLiteral("Signal Strength")};

TGetInfoThread::TGetInfoThread(TDoneEvent onDone) : FOnDone(std::move(onDone)) {}

QByteArray TGetInfoThread::SignalText(int value) {
    const unsigned v = static_cast<unsigned>(value);
    if (v <= 7)
        return "Low (" + QByteArray::number(value) + ')';
    if (v <= 15)
        return "Mid (" + QByteArray::number(value) + ')';
    if (v <= 31)
        return "High (" + QByteArray::number(value) + ')';
    return "Unknown";
}

TGetInfoThread::TResult TGetInfoThread::Probe(TGsmLink &link) {
    TResult result;
    auto refused = [&](const QByteArray &command) {
        result.Outcome = poRefused;
        result.RefusedCommand = command;
        return result;
    };
    if (!link.ExecuteCommand("AT+CBC"))
        return refused("AT+CBC");
    result.Values[0] = link.InfoFieldCount() < 2 ? QByteArray("Unknown") : link.InfoField(2) + '%';
    if (!link.ExecuteCommand("AT+GMI"))
        return refused("AT+GMI");
    result.Values[1] = link.InfoLine();
    if (!link.ExecuteCommand("AT+GMM"))
        return refused("AT+GMM");
    result.Values[2] = link.InfoLine();
    if (!link.ExecuteCommand("AT+CSQ"))
        return refused("AT+CSQ");
    result.Values[3] = "Unknown";
    if (link.InfoFieldCount() >= 1)
        result.Values[3] = SignalText(ToInteger(link.InfoField(1)));
    return result;
}

void TGetInfoThread::Execute() {
    TBaseThread::Execute();
    TGsmSerial &link = *Link();
    TResult result;
    if (link.Connected()) {
        result.Outcome = poBusy;
    } else {
        try {
            TLinkCloser closer{link};
            link.Port().SetPortName(Settings ? Settings->ComPortName() : QByteArray());
            link.Open();
            result = Probe(link);
        } catch (const EPelorvane &e) {
            result = TResult{poFailed, {}, {}, e.Message()};
        } catch (const std::exception &e) {
            result = TResult{poFailed, {}, {}, QString::fromLocal8Bit(e.what())};
        }
    }
    // A stopped probe (the program is closing) has nothing to show.
    if (Terminated() || !FOnDone)
        return;
    Synchronize([this, &result] { FOnDone(result); });
}
