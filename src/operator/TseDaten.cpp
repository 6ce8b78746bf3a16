// What the TSE reports about itself: the technical-data view of the window
// (with the registered clients, the counters and the capacity warnings) and
// the same facts as a record in the program log.
#include "platform/Ansi.h"
#include "platform/DateTime.h"
#include "platform/Version.h"
#include "platform/Monotonic.h"
#include "shell/MainForm.h"
#include "tse/ProcLib.h"
#include "tse/TseLib.h"

#include <QLabel>
#include <QListWidget>
#include <QPushButton>

namespace {


// A TSE with less free log memory than this (in KiB), or fewer free client
// or transaction places than this, needs the operator's attention soon.
constexpr uint32_t LowMemoryKb = 4096;
constexpr uint32_t FewFreePlaces = 10;

// A hex value for the list: 16 bytes a line, the bytes joined by "-".
QStringList HexLines(const std::string& hex)
{
    constexpr size_t ChunkLength = 32;
    QStringList lines;
    for (size_t pos = 0; pos < hex.size(); pos += ChunkLength)
        lines << "  " + plat::AnsiToQ(InsTZ(hex.substr(pos, ChunkLength), '-'));
    return lines;
}

// What the TSE's clock runs on, for whoever reads its log times.
QString ClockText()
{
    return TseLocalClock ? QStringLiteral("Ortszeit (TSE_ZEIT=LOKAL)") : QStringLiteral("UTC");
}

// A hex value for the log record: all of it on one line.
QString LogForm(const std::string& hex)
{
    return plat::AnsiToQ(InsTZ(hex, '-'));
}

// The client ids in the TSE's ERS mappings. The flattened structure holds
// pairs of values: the client id and the key it is mapped to.
QStringList RegisteredClients(const std::string& mappingsHex)
{
    std::string values = Get_ASN1_Data(mappingsHex);
    QStringList clients;
    while (!values.empty()) {
        const QString clientIdHex = GetTerm(values, QChar('|'));
        GetTerm(values, QChar('|'));  // the key
        clients << plat::AnsiToQ(HexToText(plat::QToAnsi(clientIdHex)));
    }
    return clients;
}

QString Text(const std::string& ansi)
{
    return plat::AnsiToQ(ansi);
}

}  // namespace

void TMainForm::TSE_Daten_abfragen()
{
    liTSE->addItem("Verzeichnisse");
    liTSE->addItem("  Daten:  " + DatenVerz);
    liTSE->addItem("  Export: " + ExpVerz);
    liTSE->addItem("  TSE:    " + TSE_Pfad);

    liTSE->addItem("Versionen");
    liTSE->addItem("  Voktar: V" + plat::ProgramVersion());
    liTSE->addItem("  TSE:    " + Text(tse_getApiVersionString()));

    liTSE->addItem("Seriennummer der TSE");
    liTSE->addItems(HexLines(TseSN));

    liTSE->addItem("Zeitmanagement");
    const uint32_t syncInterval = tse_getTimeSyncInterval();
    TimeSyncInterval = static_cast<int32_t>(syncInterval);
    liTSE->addItem("  Sync.Interval:      " + QString::number(syncInterval) + " sec.");
    liTSE->addItem("  Zeitformat:         " + Text(tse_getTimeSyncVariant()));
    liTSE->addItem(QStringLiteral("  Uhr der TSE:        ") + ClockText());

    liTSE->addItem("Signatur");
    liTSE->addItem("  gültig bis:         " + Text(tse_getCertificateExpirationDate(TseSN)) + " UTC");
    liTSE->addItem("  Algorithmus:        " + Text(tse_getSignatureAlgorithm()));
    liTSE->addItem("  Zertifikate ID:     " + Text(tse_getCertificationId()));

    lbTANr->setText(QString::number(tse_getTransactionCounter()));
    lbSigNr->setText(QString::number(tse_getSignatureCounter(TseSN)));

    liKas->addItems(RegisteredClients(tse_getERSMappings()));

    liTSE->addItem("Unique ID");
    liTSE->addItems(HexLines(tse_getUniqueId()));
    liTSE->addItem("Public Key");
    liTSE->addItems(HexLines(tse_exportPublicKey(TseSN)));

    // Open transactions block the closing of receipts; the operator can
    // finish them with "TA freigeben".
    const std::string openTransactions = tse_getOpenTransactions();
    if (!openTransactions.empty()) liErr->addItem("offene Transaktionen: " + Text(openTransactions));
    Btn_TAFree->setEnabled(!openTransactions.empty());

    const uint32_t freeKb = static_cast<uint32_t>(tse_getAvailableLogMemory() / 1024);
    if (freeKb < LowMemoryKb) liErr->addItem("TSE-Speicher fast voll, " + QString::number(freeKb) + " kb frei");

    // A current number above the maximum wraps to a large difference: no warning.
    const uint32_t maxClients = tse_getMaxNumberOfClients();
    const uint32_t freeClients = maxClients - tse_getCurrentNumberOfClients();
    if (freeClients < FewFreePlaces)
        liErr->addItem("Kaum freie Kassen mehr, " + QString::number(freeClients) + " frei");

    const uint32_t maxTransactions = tse_getMaxNumberOfTransactions();
    const uint32_t freeTransactions = maxTransactions - tse_getCurrentNumberOfTransactions();
    if (freeTransactions < FewFreePlaces)
        liErr->addItem("Kaum freie Transaktionen mehr, " + QString::number(freeTransactions) + " frei");

    // The TSE's clock is set now; the job pass sets it again once the
    // interval that the TSE demands has passed.
    int32_t loginResult = 0;
    int16_t remainingRetries = 0;
    tse_authenticateUser(TseAdminUser, TseAdminPin, loginResult, remainingRetries);
    tse_updateTime();
    NextTimeSet = plat::MonotonicMs() + (static_cast<int64_t>(TimeSyncInterval) - 1) * 1000;
    tse_logOut(TseAdminUser);
}

void TMainForm::Log_TSE_Daten()
{
    Log("° ");
    Log("°>>>>>>>>>> TECHNISCHE DATEN DER TSE <<<<<<<<<<");
    Log("°Verzeichnisse");
    Log("°  Daten:  " + DatenVerz);
    Log("°  Export: " + ExpVerz);
    Log("°  TSE:    " + TSE_Pfad);
    Log("°Versionen");
    Log("°  Voktar: " + plat::ProgramVersion());
    Log("°  TSE:    " + Text(tse_getApiVersionString()));

    const std::string serialNumbers = tse_exportSerialNumbers();
    Log("°Seriennummer der TSE  (" + ErgStr() + ")");
    Log("°  " + LogForm(serialNumbers));

    Log("°Zeitmanagement");
    Log("°  Sync.Interval:      " + QString::number(tse_getTimeSyncInterval()) + " sec.");
    Log("°  Zeitformat:         " + Text(tse_getTimeSyncVariant()));
    Log(QStringLiteral("°  Uhr der TSE:        ") + ClockText());

    Log("°Signatur");
    Log("°  gültig bis:         " + Text(tse_getCertificateExpirationDate(TseSN)) + " UTC");
    Log("°  Algorithmus:        " + Text(tse_getSignatureAlgorithm()));
    Log("°  Zertifikate ID:     " + Text(tse_getCertificationId()));

    Log("°Aktuelle Nummern");
    Log("°  TransaktionsNr:     " + QString::number(tse_getTransactionCounter()));
    Log("°  Signatur-Nr:        " + QString::number(tse_getSignatureCounter(TseSN)));

    Log("°Angemeldete Kassen");
    const std::string mappings = tse_getERSMappings();
    Log("°  " + LogForm(mappings));
    for (const QString& client : RegisteredClients(mappings)) Log("°  " + client);

    Log("°Unique ID");
    Log("°  " + LogForm(tse_getUniqueId()));
    Log("°Public Key");
    Log("°  " + LogForm(tse_exportPublicKey(TseSN)));

    const std::string openTransactions = tse_getOpenTransactions();
    Log("°offene Transaktionen: " + (openTransactions.empty() ? QStringLiteral("keine") : Text(openTransactions)));

    Log("°Speicher");
    const uint64_t totalKb = tse_getTotalLogMemory() / 1024;
    const uint64_t freeKb = tse_getAvailableLogMemory() / 1024;
    Log("°  LogMemory:   " + QString::number(freeKb) + " von " + QString::number(totalKb) + " kb frei");
    const uint32_t maxClients = tse_getMaxNumberOfClients();
    const uint32_t clients = tse_getCurrentNumberOfClients();
    Log("°  Anz. Kassen: " + QString::number(clients) + " von " + QString::number(maxClients) + " belegt");
    const uint32_t maxTransactions = tse_getMaxNumberOfTransactions();
    const uint32_t transactions = tse_getCurrentNumberOfTransactions();
    Log("°  Anz. Trans.: " + QString::number(transactions) + " von " + QString::number(maxTransactions) +
        " belegt");
    Log("° ");
}
