// The TSE's stored log messages (TR-03151): a DER SEQUENCE whose elements up
// to the log time are signed, followed by the signature as an OCTET STRING.
#pragma once

#include <QByteArray>
#include <QMultiMap>
#include <QString>

namespace e2e {

struct LogMessage {
    QByteArray signedPart;  // the concatenated elements before the signature
    QByteArray signature;   // the signature value (plain r || s)
    qint64 logTime = -1;    // Unix seconds when the log time is an INTEGER, else -1
};

// False with a reason when the bytes are no such message.
bool ParseLogMessage(const QByteArray& der, LogMessage& out, QString* why);

// Checks a plain ECDSA signature ("ecdsa-plain-SHA256/384/512") over data.
// publicKey: the uncompressed point the TSE exports (curve brainpoolP384r1
// for a 97-byte point, brainpoolP256r1 for 65 bytes) or a DER
// SubjectPublicKeyInfo.
bool VerifyPlainEcdsa(const QByteArray& publicKey, const QByteArray& algorithm, const QByteArray& data,
                      const QByteArray& signature, QString* why);

// One finish message of an export, with its transaction number.
struct FinishMessage {
    uint32_t taNr = 0;
    QByteArray der;
};

// Every finish message of an unpacked export below dir, by its process data.
QMultiMap<QByteArray, FinishMessage> FinishesIn(const QString& dir);

}  // namespace e2e
