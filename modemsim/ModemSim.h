#pragma once

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QString>

#include <memory>

// Faults and answers of the simulated phone. Message numbers count message bodies
// (the PDUs after the "> " prompt) from 1; 0 means never.
struct ModemSimOptions {
    int failAt = 0;                 // answer the Nth body with +CMS ERROR: 500
    int silentAt = 0;               // never answer the Nth body
    int hangupAt = 0;               // close the line when the Nth body arrives
    int delayMs = 0;                // wait this long before each answer
    int bodyDelayMs = 0;            // wait this long before the answer to a message body
    bool promptWithLineEnd = false; // send "> " followed by CR LF
    bool refuseCmgfQuery = false;   // ERROR for AT+CMGF=?
    bool refuseCmgf0 = false;       // ERROR for AT+CMGF=0
    bool refuseCbc = false;         // ERROR for AT+CBC
    bool refuseGmm = false;         // ERROR for AT+GMM
    int battery = 85;               // second field of +CBC
    int signal = 20;                // first field of +CSQ
    QByteArray maker = "Pelorvane";
    QByteArray model = "Demo GSM Phone";
    // An unsolicited line (such as "RING") sent before every answer when not empty.
    QByteArray unsolicited;
    // Refusals chosen per message body (its number from 1) or per recipient (the number as
    // decoded, "+" in front when international): the line the phone answers with, such as
    // "+CMS ERROR: 1" or "ERROR". A body refused by number counts as a body all the same.
    QMap<int, QByteArray> refuseAt;
    QMap<QByteArray, QByteArray> refuseNumber;
    // When not empty, every body is refused with this line (a SIM the network has barred).
    QByteArray refuseEvery;
    // After the Nth body, instead of an answer, send endlessText without end (each followed by
    // CR LF when endlessLineEnds) until the program closes the port.
    int endlessAt = 0;
    QByteArray endlessText = "RING";
    bool endlessLineEnds = true;
    int promptDelayMs = 0;        // wait this long before the "> " prompt
    bool keepBodyOnClose = false; // like a modem that ignores DTR: the port closing does not
                                  // end a message body it waits for
    bool refuseCmee = false;      // ERROR for AT+CMEE=...

    // Personalities of real phones and modems. A maker containing "huawei" also makes a Huawei
    // modem: ^RSSI, ^MODE and ^BOOT lines unasked until AT^CURC=0, AT^CPIN? instead of
    // AT+CPINR.
    QByteArray pin;          // the SIM card asks for this PIN; three wrong ones lock it (PUK)
    bool noSim = false;      // no SIM card: +CME ERROR: 10
    int registerAfterMs = 0; // searching until this long after the start (and the PIN)
    QByteArray registration; // "denied" or "searching" for good; empty: registered
    bool lteOnly = false;    // AT+CREG? and AT+CGREG? say searching, AT+CEREG? registered
    bool noSmsc = false;     // no service centre: AT+CSCA? empty, a body without one gets 330
    int urcFloodMs = 0;      // an unsolicited line every this many ms, and one after each prompt
    bool barePrompt = false; // the prompt is ">" without the space
    bool oldPhone = false;   // ERROR for the SIM, network, operator, centre and IMEI queries
    QByteArray imei = "356938035643809";
    QByteArray serviceCentre = "+491710760000";
};

// One message the simulated phone accepted, decoded from its PDU.
struct ReceivedSms {
    QByteArray number; // with "+" in front for international numbers
    int coding = 0;    // 0 GSM 7 bit, 1 8-bit, 2 UCS-2
    bool flash = false;
    QString text;
    QByteArray pdu;    // the Pdu hex as received, without the SMSC field
    QByteArray header; // the user-data header as hex, empty when the PDU has none
    int reference = 0; // the message reference the phone answered with (+CMGS: <ref>)
    // A part of a concatenated message (information element 00 or 08 in the header): its
    // reference, the number of parts and its own number from 1. concatTotal is 0 otherwise,
    // also for an element a phone would ignore (no parts, or a number outside 1..total).
    int concatRef = -1;
    int concatTotal = 0;
    int concatSeq = 0;
};

// A concatenated message whose parts have all been accepted, put together in part order.
struct CompletedSms {
    QByteArray number;
    int ref = 0;
    int parts = 0;
    QString text;
};

// Decodes an SMS-SUBMIT Pdu (hex, no SMSC field) as this program sends it, the user-data
// header included. Returns false with a reason for anything malformed.
bool decodeSubmitPdu(const QByteArray &hex, ReceivedSms *out, QString *error = nullptr);

// A GSM phone on a pseudo-terminal, served by a thread of its own. As on a real line,
// what the phone sends while no program has the port open is lost, and the last program
// closing the port ends an unfinished command line or message body.
class ModemSim {
public:
    explicit ModemSim(ModemSimOptions options = {});
    ~ModemSim();

    ModemSim(const ModemSim &) = delete;
    ModemSim &operator=(const ModemSim &) = delete;

    // Opens the pseudo-terminal and starts serving; false with a reason on failure.
    bool start(QString *error = nullptr);
    void stop();

    // The slave device path a program opens as its serial port.
    QString portPath() const;

    // What the phone has seen so far; safe to call while it serves.
    QList<ReceivedSms> received() const;
    QList<QByteArray> commands() const; // every command line, in order, without CR LF
    int bodiesSeen() const;
    // Every message body as it arrived after the prompt, without the Ctrl-Z (refused ones too).
    QList<QByteArray> bodies() const;
    // The concatenated messages put together so far, in the order their last part arrived.
    // Parts are joined per number and reference; a part that arrives again replaces the
    // earlier copy, and one with a different part count starts the message afresh.
    QList<CompletedSms> completed() const;
    // True from Start until Stop or until the phone hung up the line.
    bool isServing() const;
    bool waitForReceived(int count, int timeoutMs) const;

    // Appends JSON objects, one per line, to this file (empty: no log): one per accepted
    // message or part ("number", "coding", "flash", "text", and for a part also "ref",
    // "total" and "seq"), and one per completed concatenated message ("number", "ref",
    // "parts" and the whole "text").
    void setLogFile(const QString &path);

private:
    struct State;
    std::unique_ptr<State> m_state;
};
