#include "sending/ProbeThread.h"

#include "base/Error.h"
#include "link/GsmSerial.h"

#include <limits>

namespace {

// The device's integers may carry blanks around them; anything else is an error, as is a
// value outside 32 bits.
int toInteger(const QByteArray &field) {
    bool ok = false;
    const qlonglong value = field.trimmed().toLongLong(&ok, 10);
    if (!ok || value < std::numeric_limits<int>::min() || value > std::numeric_limits<int>::max())
        throw Error(
            QStringLiteral("'%1' is not a valid integer value").arg(QString::fromLocal8Bit(field)));
    return int(value);
}

struct LinkCloser {
    GsmLink &link;
    ~LinkCloser() { link.close(); }
};

} // namespace

const std::array<QByteArray, ProbeThread::RowCount> ProbeThread::RowCaptions = {
    QByteArrayLiteral("Battery Level"), QByteArrayLiteral("Manufacturer"),
    QByteArrayLiteral("Model"), QByteArrayLiteral("Signal Strength")};

ProbeThread::ProbeThread(DoneEvent onDone) : m_onDone(std::move(onDone)) {}

QByteArray ProbeThread::signalText(int value) {
    const unsigned v = static_cast<unsigned>(value);
    if (v <= 7)
        return "Low (" + QByteArray::number(value) + ')';
    if (v <= 15)
        return "Mid (" + QByteArray::number(value) + ')';
    if (v <= 31)
        return "High (" + QByteArray::number(value) + ')';
    return "Unknown";
}

ProbeThread::Result ProbeThread::probe(GsmLink &link) {
    Result result;
    auto refused = [&](const QByteArray &command) {
        result.outcome = Refused;
        result.refusedCommand = command;
        return result;
    };
    if (!link.executeCommand("AT+CBC"))
        return refused("AT+CBC");
    result.values[0] = link.infoFieldCount() < 2 ? QByteArray("Unknown") : link.infoField(2) + '%';
    if (!link.executeCommand("AT+GMI"))
        return refused("AT+GMI");
    result.values[1] = link.infoLine();
    if (!link.executeCommand("AT+GMM"))
        return refused("AT+GMM");
    result.values[2] = link.infoLine();
    if (!link.executeCommand("AT+CSQ"))
        return refused("AT+CSQ");
    result.values[3] = "Unknown";
    if (link.infoFieldCount() >= 1)
        result.values[3] = signalText(toInteger(link.infoField(1)));
    return result;
}

void ProbeThread::execute() {
    WorkerThread::execute();
    GsmSerial &link = *this->link();
    Result result;
    if (link.connected()) {
        result.outcome = Busy;
    } else {
        try {
            LinkCloser closer{link};
            link.port().setPortName(portName ? portName() : QByteArray());
            link.open();
            result = probe(link);
        } catch (const Error &e) {
            result = Result{Failed, {}, {}, e.message()};
        } catch (const std::exception &e) {
            result = Result{Failed, {}, {}, QString::fromLocal8Bit(e.what())};
        }
    }
    // A stopped probe (the program is closing) has nothing to show.
    if (terminated() || !m_onDone)
        return;
    synchronize([this, &result] { m_onDone(result); });
}
