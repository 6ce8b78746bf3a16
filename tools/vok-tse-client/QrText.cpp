#include "vok-tse-client/QrText.h"

namespace vokclient {

QrResult BuildQrText(const Answer& bon, const Answer& status)
{
    const QByteArray publicKey = status.value("PUBKEY");
    const QByteArray algorithm = status.value("HASHALGO");
    if (publicKey.isEmpty()) return {{}, QStringLiteral("the STATUS answer has no public key")};
    if (algorithm.isEmpty()) return {{}, QStringLiteral("the STATUS answer has no signature algorithm")};
    const QByteArray signature = bon.value("SIG");
    if (signature.isEmpty()) return {{}, QStringLiteral("the BON answer has no signature")};

    // The form of the TSE's log times, never how it takes its time (TIFO).
    static const QList<QByteArray> named = {"unixTime", "utcTime", "utcTimeWithSeconds", "generalizedTime",
                                            "generalizedTimeWithMilliseconds"};
    QByteArray timeFormat = status.value("LOGTIFO");
    if (!named.contains(timeFormat)) timeFormat = "unixTime";

    QByteArray qr = "V0;";
    qr += bon.value("KASID");
    qr += ";Kassenbeleg-V1;";
    for (const QByteArray& part : {bon.value("SIGTEXT"), bon.value("TRANR"), bon.value("SIGNR"),
                                   bon.value("START"), bon.value("ENDE"), algorithm, timeFormat,
                                   signature}) {
        qr += part;
        qr += ';';
    }
    qr += publicKey;
    return {qr, {}};
}

}  // namespace vokclient
