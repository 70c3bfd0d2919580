#!/usr/bin/env node
// A fake SMS centre speaking SMPP 3.4, for Pelorvane's tests and for trying a run without an
// account. It accepts binds, logs every submit_sm as one JSON line with its text decoded, and
// can be told to misbehave the ways real centres do. The first line on standard output is
// {"event":"listening","port":N}.
'use strict';

const fs = require('fs');
const smpp = require('smpp');

const usage = `usage: node smsc-fake.js [options]
  --host ADDR                  address to listen on (127.0.0.1)
  --port N                     port to listen on (2775; 0 takes a free one)
  --system-id ID               the only system_id accepted (any when not given)
  --password PW                the password a bind must give (any when not given)
  --log FILE                   JSON lines into FILE instead of standard output
  --quiet                      no line for each submit_sm (benchmarks)
  --delay MS                   answer every submit_sm MS milliseconds late
  --throttle-after N           after N accepted messages, refuse with ESME_RTHROTTLED ...
  --throttle-for MS            ... for MS milliseconds (500), once
  --throttle-status CODE       refuse with CODE instead (0x14 is ESME_RMSGQFUL)
  --refuse NUMBER:CODE         refuse messages to NUMBER with CODE (0x0B); repeatable
  --drop-after N               close the connection, unanswered, at the Nth submit_sm (once)
  --receipts STATE             a receipt for every message that asks for one:
                               delivered, undelivered or expired
  --receipt-for NUMBER:STATE   the receipt's state for one number; repeatable
  --receipt-delay MS           send receipts MS milliseconds after the answer
  --receipt-tlv                receipts also carry receipted_message_id and message_state
  --hex-ids                    message IDs in hexadecimal (receipt texts keep the decimal form)
  --enquire-link MS            send enquire_link every MS milliseconds to bound sessions
  --tls-cert FILE --tls-key FILE   TLS with this certificate and key (PEM)
`;

function parseArgs(argv) {
    const options = {
        host: '127.0.0.1', port: 2775, systemId: null, password: null, log: null,
        quiet: false, delay: 0, throttleAfter: -1, throttleFor: 500,
        throttleStatus: smpp.ESME_RTHROTTLED, refuse: new Map(), dropAfter: -1,
        receipts: null, receiptFor: new Map(), receiptDelay: 0, receiptTlv: false,
        hexIds: false, enquireLink: 0, tlsCert: null, tlsKey: null,
    };
    const value = (i) => {
        if (i + 1 >= argv.length)
            fail(`${argv[i]} needs a value`);
        return argv[i + 1];
    };
    const integer = (text, what) => {
        const n = Number(text);
        if (!Number.isInteger(n) || n < 0)
            fail(`${what}: not a whole number: ${text}`);
        return n;
    };
    const pair = (text, what) => {
        const at = text.lastIndexOf(':');
        if (at <= 0)
            fail(`${what} wants NUMBER:VALUE, not ${text}`);
        return [text.slice(0, at), text.slice(at + 1)];
    };
    const state = (text) => {
        if (!['delivered', 'undelivered', 'expired'].includes(text))
            fail(`unknown receipt state ${text}`);
        return text;
    };
    for (let i = 0; i < argv.length; ++i) {
        const arg = argv[i];
        switch (arg) {
        case '--host': options.host = value(i++); break;
        case '--port': options.port = integer(value(i++), arg); break;
        case '--system-id': options.systemId = value(i++); break;
        case '--password': options.password = value(i++); break;
        case '--log': options.log = value(i++); break;
        case '--quiet': options.quiet = true; break;
        case '--delay': options.delay = integer(value(i++), arg); break;
        case '--throttle-after': options.throttleAfter = integer(value(i++), arg); break;
        case '--throttle-for': options.throttleFor = integer(value(i++), arg); break;
        case '--throttle-status': options.throttleStatus = integer(value(i++), arg); break;
        case '--refuse': {
            const [number, code] = pair(value(i++), arg);
            options.refuse.set(number, integer(code, arg));
            break;
        }
        case '--drop-after': options.dropAfter = integer(value(i++), arg); break;
        case '--receipts': options.receipts = state(value(i++)); break;
        case '--receipt-for': {
            const [number, s] = pair(value(i++), arg);
            options.receiptFor.set(number, state(s));
            break;
        }
        case '--receipt-delay': options.receiptDelay = integer(value(i++), arg); break;
        case '--receipt-tlv': options.receiptTlv = true; break;
        case '--hex-ids': options.hexIds = true; break;
        case '--enquire-link': options.enquireLink = integer(value(i++), arg); break;
        case '--tls-cert': options.tlsCert = value(i++); break;
        case '--tls-key': options.tlsKey = value(i++); break;
        case '--help': process.stdout.write(usage); process.exit(0); break;
        default: fail(`unknown option ${arg}`);
        }
    }
    if (!!options.tlsCert !== !!options.tlsKey)
        fail('--tls-cert and --tls-key go together');
    return options;
}

function fail(message) {
    process.stderr.write(`smsc-fake: ${message}\n${usage}`);
    process.exit(2);
}

const options = parseArgs(process.argv.slice(2));

// short_message and message_payload stay raw octets: the log decodes them itself, exactly.
const raw = {encode: (v) => v, decode: (v) => v};
smpp.commands.submit_sm.params.short_message.filter = raw;
smpp.commands.deliver_sm.params.short_message.filter = raw;
smpp.tlvs.message_payload.filter = raw;

const logFd = options.log ? fs.openSync(options.log, 'a') : null;
function log(entry) {
    const line = JSON.stringify(entry) + '\n';
    if (logFd !== null)
        fs.writeSync(logFd, line);
    else
        process.stdout.write(line);
}

// GSM 03.38 default alphabet, one septet per octet, and its extension table after 0x1B.
const gsmBasic =
    '@\u00a3$\u00a5\u00e8\u00e9\u00f9\u00ec\u00f2\u00c7\n\u00d8\u00f8\r\u00c5\u00e5' +
    '\u0394_\u03a6\u0393\u039b\u03a9\u03a0\u03a8\u03a3\u0398\u039e\x1b\u00c6\u00e6\u00df\u00c9' +
    ' !"#\u00a4%&\'()*+,-./0123456789:;<=>?' +
    '\u00a1ABCDEFGHIJKLMNOPQRSTUVWXYZ\u00c4\u00d6\u00d1\u00dc\u00a7' +
    '\u00bfabcdefghijklmnopqrstuvwxyz\u00e4\u00f6\u00f1\u00fc\u00e0';
const gsmExtension = {
    0x0a: '\f', 0x14: '^', 0x28: '{', 0x29: '}', 0x2f: '\\', 0x3c: '[', 0x3d: '~', 0x3e: ']',
    0x40: '|', 0x65: '\u20ac',
};

function decodeGsm(bytes) {
    let text = '';
    for (let i = 0; i < bytes.length; ++i) {
        const septet = bytes[i];
        if (septet > 0x7f) {
            text += '\ufffd';
        } else if (septet === 0x1b && i + 1 < bytes.length) {
            const next = bytes[++i];
            text += gsmExtension[next] !== undefined ? gsmExtension[next]
                                                     : (gsmBasic[next] || '\ufffd');
        } else {
            text += gsmBasic[septet];
        }
    }
    return text;
}

function decodeUcs2(bytes) {
    let text = '';
    for (let i = 0; i + 1 < bytes.length; i += 2)
        text += String.fromCharCode((bytes[i] << 8) | bytes[i + 1]);
    return text;
}

// The UDH (as hex) and the text of a short message.
function decodeMessage(pdu) {
    let bytes = Buffer.isBuffer(pdu.short_message) ? pdu.short_message : Buffer.alloc(0);
    if (bytes.length === 0 && Buffer.isBuffer(pdu.message_payload))
        bytes = pdu.message_payload;
    let udh = '';
    if ((pdu.esm_class & 0x40) && bytes.length > 0) {
        const length = Math.min(bytes.length, bytes[0] + 1);
        udh = bytes.subarray(0, length).toString('hex').toUpperCase();
        bytes = bytes.subarray(length);
    }
    let text = null;
    switch (pdu.data_coding) {
    case 0: text = decodeGsm(bytes); break;
    case 3: text = bytes.toString('latin1'); break;
    case 8: text = decodeUcs2(bytes); break;
    }
    return {udh, text, hex: bytes.toString('hex').toUpperCase()};
}

let nextMessageNumber = 0x1a2b00; // hexadecimal IDs get letters from the first one on
let submitsReceived = 0;
let accepted = 0;
let throttleUntil = 0;
let throttleDone = false;
let dropDone = false;
const pendingReceipts = []; // for receiving sessions of the same account that bind later

function messageIdText(number) {
    return options.hexIds ? number.toString(16).toUpperCase() : String(number);
}

function timestamp(date) {
    const two = (n) => String(n).padStart(2, '0');
    return two(date.getFullYear() % 100) + two(date.getMonth() + 1) + two(date.getDate()) +
           two(date.getHours()) + two(date.getMinutes());
}

const receiptStates = {
    delivered: {stat: 'DELIVRD', err: '000', dlvrd: '001', messageState: 2},
    undelivered: {stat: 'UNDELIV', err: '001', dlvrd: '000', messageState: 5},
    expired: {stat: 'EXPIRED', err: '000', dlvrd: '000', messageState: 3},
};

function makeReceipt(submit, number, state, text) {
    const s = receiptStates[state];
    const now = timestamp(new Date());
    const body = `id:${String(number).padStart(10, '0')} sub:001 dlvrd:${s.dlvrd} ` +
                 `submit date:${now} done date:${now} stat:${s.stat} err:${s.err} ` +
                 `text:${(text || '').slice(0, 20)}`;
    const pdu = {
        source_addr_ton: submit.dest_addr_ton, source_addr_npi: submit.dest_addr_npi,
        source_addr: submit.destination_addr, dest_addr_ton: submit.source_addr_ton,
        dest_addr_npi: submit.source_addr_npi, destination_addr: submit.source_addr,
        esm_class: 0x04, data_coding: 0, short_message: Buffer.from(body, 'latin1'),
    };
    if (options.receiptTlv) {
        pdu.receipted_message_id = messageIdText(number);
        pdu.message_state = s.messageState;
    }
    return {pdu, systemId: null, messageId: messageIdText(number), state};
}

function receives(session) {
    return session.bound === 'bind_transceiver' || session.bound === 'bind_receiver';
}

function sendReceipt(receipt, session) {
    const target = session && !session.closed && receives(session)
        ? session
        : [...server.sessions].find((s) => !s.closed && receives(s) &&
                                          s.systemId === receipt.systemId);
    if (!target) {
        pendingReceipts.push(receipt);
        return;
    }
    target.deliver_sm(receipt.pdu, (resp) => {
        log({event: 'deliver_sm_resp', message_id: receipt.messageId,
             status: resp.command_status});
    });
    log({event: 'deliver_sm', message_id: receipt.messageId, state: receipt.state});
}

function onSubmit(session, pdu) {
    if (session.dropped)
        return;
    ++submitsReceived;
    const message = decodeMessage(pdu);
    const entry = {
        event: 'submit_sm', seq: pdu.sequence_number, source: pdu.source_addr,
        source_ton: pdu.source_addr_ton, source_npi: pdu.source_addr_npi,
        destination: pdu.destination_addr, destination_ton: pdu.dest_addr_ton,
        destination_npi: pdu.dest_addr_npi, data_coding: pdu.data_coding,
        esm_class: pdu.esm_class, registered_delivery: pdu.registered_delivery,
        udh: message.udh, text: message.text,
    };
    if (message.text === null)
        entry.hex = message.hex;
    if (!session.bound) {
        entry.status = smpp.ESME_RINVBNDSTS;
        entry.outcome = 'refused';
        log(entry);
        session.send(pdu.response({command_status: smpp.ESME_RINVBNDSTS}));
        return;
    }
    if (!dropDone && options.dropAfter > 0 && submitsReceived === options.dropAfter) {
        dropDone = true;
        session.dropped = true;
        entry.outcome = 'dropped';
        log(entry);
        session.socket.destroy();
        return;
    }
    const now = Date.now();
    if (!throttleDone && options.throttleAfter >= 0 && accepted >= options.throttleAfter &&
        throttleUntil === 0)
        throttleUntil = now + options.throttleFor;
    let status = 0;
    if (throttleUntil !== 0 && !throttleDone) {
        if (now < throttleUntil)
            status = options.throttleStatus;
        else
            throttleDone = true;
    }
    if (status === 0 && options.refuse.has(pdu.destination_addr))
        status = options.refuse.get(pdu.destination_addr);
    const response = {command_status: status};
    let number = null;
    if (status === 0) {
        ++accepted;
        number = nextMessageNumber++;
        response.message_id = messageIdText(number);
        entry.message_id = response.message_id;
    }
    entry.status = status;
    entry.outcome = status === 0 ? 'accepted'
                  : status === options.throttleStatus ? 'throttled' : 'refused';
    if (!options.quiet)
        log(entry);
    const answer = () => {
        if (session.closed || session.dropped)
            return;
        session.send(pdu.response(response));
        const wanted = pdu.registered_delivery & 0x03;
        const state = options.receiptFor.get(pdu.destination_addr) || options.receipts;
        if (number === null || !state || wanted === 0 || (wanted === 2 && state === 'delivered'))
            return;
        const receipt = makeReceipt(pdu, number, state, message.text);
        receipt.systemId = session.systemId;
        if (options.receiptDelay > 0)
            setTimeout(() => sendReceipt(receipt, session), options.receiptDelay);
        else
            sendReceipt(receipt, session);
    };
    if (options.delay > 0)
        setTimeout(answer, options.delay);
    else
        answer();
}

function onBind(session, pdu) {
    let status = 0;
    if (session.bound)
        status = smpp.ESME_RALYBND;
    else if (options.systemId !== null && pdu.system_id !== options.systemId)
        status = smpp.ESME_RINVSYSID;
    else if (options.password !== null && pdu.password !== options.password)
        status = smpp.ESME_RINVPASWD;
    log({event: 'bind', command: pdu.command, system_id: pdu.system_id,
         interface_version: pdu.interface_version, status});
    session.send(pdu.response({command_status: status, system_id: 'smsc-fake'}));
    if (status !== 0) {
        session.close();
        return;
    }
    session.bound = pdu.command;
    session.systemId = pdu.system_id;
    if (options.enquireLink > 0) {
        session.enquireTimer = setInterval(() => {
            session.enquire_link({}, (resp) => {
                log({event: 'enquire_link_resp', seq: resp.sequence_number,
                     status: resp.command_status});
            });
        }, options.enquireLink);
    }
    if (receives(session)) {
        const waiting = pendingReceipts.splice(0).filter((r) => r.systemId === session.systemId ||
                                                                 r.systemId === null);
        waiting.forEach((r) => sendReceipt(r, session));
    }
}

const serverOptions = options.tlsCert
    ? {cert: fs.readFileSync(options.tlsCert), key: fs.readFileSync(options.tlsKey)}
    : {};

const server = smpp.createServer(serverOptions, (session) => {
    // Every answer goes at once, as a centre's would, not when the next one fills a segment.
    session.socket.setNoDelay(true);
    session.bound = null;
    session.closed = false;
    session.dropped = false;
    for (const command of ['bind_transmitter', 'bind_transceiver', 'bind_receiver'])
        session.on(command, (pdu) => onBind(session, pdu));
    session.on('submit_sm', (pdu) => onSubmit(session, pdu));
    session.on('enquire_link', (pdu) => {
        if (session.dropped)
            return;
        log({event: 'enquire_link', seq: pdu.sequence_number});
        session.send(pdu.response());
    });
    session.on('unbind', (pdu) => {
        log({event: 'unbind', seq: pdu.sequence_number});
        session.send(pdu.response());
        session.bound = null;
        session.close();
    });
    session.on('generic_nack', (pdu) => {
        log({event: 'generic_nack', seq: pdu.sequence_number, status: pdu.command_status});
    });
    session.on('unknown', (pdu) => {
        log({event: 'unknown', command_id: pdu.command_id, seq: pdu.sequence_number});
        session.send(pdu.response());
    });
    session.on('error', (error) => log({event: 'error', message: String(error.message)}));
    session.on('close', () => {
        session.closed = true;
        if (session.enquireTimer)
            clearInterval(session.enquireTimer);
        log({event: 'close'});
    });
});

server.on('error', (error) => fail(String(error.message)));
server.listen(options.port, options.host, () => {
    process.stdout.write(JSON.stringify({event: 'listening', port: server.address().port}) + '\n');
});

for (const signal of ['SIGINT', 'SIGTERM'])
    process.on(signal, () => process.exit(0));
