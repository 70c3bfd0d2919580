#pragma once

#include <QByteArray>
#include <QList>
#include <QString>

#include <memory>

// Faults and answers of the simulated phone. Message numbers count message bodies
// (the PDUs after the "> " prompt) from 1; 0 means never.
struct TModemSimOptions {
    int FailAt = 0;                 // answer the Nth body with +CMS ERROR: 500
    int SilentAt = 0;               // never answer the Nth body
    int HangupAt = 0;               // close the line when the Nth body arrives
    int DelayMs = 0;                // wait this long before each answer
    bool PromptWithLineEnd = false; // send "> " followed by CR LF
    bool RefuseCmgfQuery = false;   // ERROR for AT+CMGF=?
    bool RefuseCmgf0 = false;       // ERROR for AT+CMGF=0
    bool RefuseCbc = false;         // ERROR for AT+CBC
    bool RefuseGmm = false;         // ERROR for AT+GMM
    int Battery = 85;               // second field of +CBC
    int Signal = 20;                // first field of +CSQ
    QByteArray Maker = "Pelorvane";
    QByteArray Model = "Demo GSM Phone";
    // An unsolicited line (such as "RING") sent before every answer when not empty.
    QByteArray Unsolicited;
};

// One message the simulated phone accepted, decoded from its PDU.
struct TReceivedSms {
    QByteArray Number; // with "+" in front for international numbers
    int Coding = 0;    // 0 GSM 7 bit, 1 8-bit, 2 UCS-2
    bool Flash = false;
    QString Text;
    QByteArray Pdu;    // the TPDU hex as received, without the SMSC field
    QByteArray Header; // the user-data header as hex, empty when the PDU has none
    int Reference = 0; // the message reference the phone answered with (+CMGS: <ref>)
};

// Decodes an SMS-SUBMIT TPDU (hex, no SMSC field) as this program sends it.
// Returns false with a reason for anything malformed.
bool DecodeSubmitPdu(const QByteArray &hex, TReceivedSms *out, QString *error = nullptr);

// A GSM phone on a pseudo-terminal, served by a thread of its own. As on a real line,
// what the phone sends while no program has the port open is lost, and the last program
// closing the port ends an unfinished command line or message body.
class TModemSim {
public:
    explicit TModemSim(TModemSimOptions options = {});
    ~TModemSim();

    TModemSim(const TModemSim &) = delete;
    TModemSim &operator=(const TModemSim &) = delete;

    // Opens the pseudo-terminal and starts serving; false with a reason on failure.
    bool Start(QString *error = nullptr);
    void Stop();

    // The slave device path a program opens as its serial port.
    QString PortPath() const;

    // What the phone has seen so far; safe to call while it serves.
    QList<TReceivedSms> Received() const;
    QList<QByteArray> Commands() const; // every command line, in order, without CR LF
    int BodiesSeen() const;
    // Every message body as it arrived after the prompt, without the Ctrl-Z (refused ones too).
    QList<QByteArray> Bodies() const;
    // True from Start until Stop or until the phone hung up the line.
    bool IsServing() const;
    bool WaitForReceived(int count, int timeoutMs) const;

    // Appends one JSON object per accepted message to this file (empty: no log).
    void SetLogFile(const QString &path);

private:
    struct TState;
    std::unique_ptr<TState> FState;
};
