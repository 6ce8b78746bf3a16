// What the TSE reports about itself: the technical-data view of the window
// (with the registered clients, the counters and the capacity warnings) and
// the same facts as a record in the program log.
#include "platform/Ansi.h"
#include "platform/DateTime.h"
#include "platform/Version.h"
#include "platform/Monotonic.h"
#include "core/Core.h"
#include "operator/Operator.h"
#include "tse/ProcLib.h"
#include "tse/TseLib.h"


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

void TSE_Daten_abfragen(TCore& core)
{
    QStringList lines;
    lines << ("Verzeichnisse");
    lines << ("  Daten:  " + core.DatenVerz);
    lines << ("  Export: " + core.ExpVerz);
    lines << ("  TSE:    " + core.TSE_Pfad);

    lines << ("Versionen");
    lines << ("  Voktar: V" + plat::ProgramVersion());
    lines << ("  TSE:    " + Text(tse_getApiVersionString()));

    lines << ("Seriennummer der TSE");
    lines << (HexLines(TseSN));

    lines << ("Zeitmanagement");
    const uint32_t syncInterval = tse_getTimeSyncInterval();
    core.TimeSyncInterval = static_cast<int32_t>(syncInterval);
    lines << ("  Sync.Interval:      " + QString::number(syncInterval) + " sec.");
    lines << ("  Zeitformat:         " + Text(tse_getTimeSyncVariant()));
    lines << (QStringLiteral("  Uhr der TSE:        ") + ClockText());

    lines << ("Signatur");
    lines << ("  gültig bis:         " + Text(tse_getCertificateExpirationDate(TseSN)) + " UTC");
    lines << ("  Algorithmus:        " + Text(tse_getSignatureAlgorithm()));
    lines << ("  Zertifikate ID:     " + Text(tse_getCertificationId()));

    core.Shown.SetTaNr(tse_getTransactionCounter());
    core.Shown.SetSigNr(tse_getSignatureCounter(TseSN));

    core.Shown.SetClients(core.Shown.Clients() + RegisteredClients(tse_getERSMappings()));

    lines << ("Unique ID");
    lines << (HexLines(tse_getUniqueId()));
    lines << ("Public Key");
    lines << (HexLines(tse_exportPublicKey(TseSN)));
    core.Shown.SetTechData(core.Shown.TechData() + lines);

    // Open transactions block the closing of receipts; the operator can
    // finish them with "TA freigeben".
    const std::string openTransactions = tse_getOpenTransactions();
    if (!openTransactions.empty()) core.Shown.AddNotice("offene Transaktionen: " + Text(openTransactions));
    core.Shown.Enable(TShownState::Button::TaFree, !openTransactions.empty());

    const uint32_t freeKb = static_cast<uint32_t>(tse_getAvailableLogMemory() / 1024);
    if (freeKb < LowMemoryKb) core.Shown.AddNotice("TSE-Speicher fast voll, " + QString::number(freeKb) + " kb frei");

    // A current number above the maximum wraps to a large difference: no warning.
    const uint32_t maxClients = tse_getMaxNumberOfClients();
    const uint32_t freeClients = maxClients - tse_getCurrentNumberOfClients();
    if (freeClients < FewFreePlaces)
        core.Shown.AddNotice("Kaum freie Kassen mehr, " + QString::number(freeClients) + " frei");

    const uint32_t maxTransactions = tse_getMaxNumberOfTransactions();
    const uint32_t freeTransactions = maxTransactions - tse_getCurrentNumberOfTransactions();
    if (freeTransactions < FewFreePlaces)
        core.Shown.AddNotice("Kaum freie Transaktionen mehr, " + QString::number(freeTransactions) + " frei");

    // The TSE's clock is set now; the job pass sets it again once the
    // interval that the TSE demands has passed.
    TAdminSession admin(core);
}

void Log_TSE_Daten(TCore& core)
{
    core.Log("° ");
    core.Log("°>>>>>>>>>> TECHNISCHE DATEN DER TSE <<<<<<<<<<");
    core.Log("°Verzeichnisse");
    core.Log("°  Daten:  " + core.DatenVerz);
    core.Log("°  Export: " + core.ExpVerz);
    core.Log("°  TSE:    " + core.TSE_Pfad);
    core.Log("°Versionen");
    core.Log("°  Voktar: " + plat::ProgramVersion());
    core.Log("°  TSE:    " + Text(tse_getApiVersionString()));

    const std::string serialNumbers = tse_exportSerialNumbers();
    core.Log("°Seriennummer der TSE  (" + core.ErgStr() + ")");
    core.Log("°  " + LogForm(serialNumbers));

    core.Log("°Zeitmanagement");
    core.Log("°  Sync.Interval:      " + QString::number(tse_getTimeSyncInterval()) + " sec.");
    core.Log("°  Zeitformat:         " + Text(tse_getTimeSyncVariant()));
    core.Log(QStringLiteral("°  Uhr der TSE:        ") + ClockText());

    core.Log("°Signatur");
    core.Log("°  gültig bis:         " + Text(tse_getCertificateExpirationDate(TseSN)) + " UTC");
    core.Log("°  Algorithmus:        " + Text(tse_getSignatureAlgorithm()));
    core.Log("°  Zertifikate ID:     " + Text(tse_getCertificationId()));

    core.Log("°Aktuelle Nummern");
    core.Log("°  TransaktionsNr:     " + QString::number(tse_getTransactionCounter()));
    core.Log("°  Signatur-Nr:        " + QString::number(tse_getSignatureCounter(TseSN)));

    core.Log("°Angemeldete Kassen");
    const std::string mappings = tse_getERSMappings();
    core.Log("°  " + LogForm(mappings));
    for (const QString& client : RegisteredClients(mappings)) core.Log("°  " + client);

    core.Log("°Unique ID");
    core.Log("°  " + LogForm(tse_getUniqueId()));
    core.Log("°Public Key");
    core.Log("°  " + LogForm(tse_exportPublicKey(TseSN)));

    const std::string openTransactions = tse_getOpenTransactions();
    core.Log("°offene Transaktionen: " + (openTransactions.empty() ? QStringLiteral("keine") : Text(openTransactions)));

    core.Log("°Speicher");
    const uint64_t totalKb = tse_getTotalLogMemory() / 1024;
    const uint64_t freeKb = tse_getAvailableLogMemory() / 1024;
    core.Log("°  LogMemory:   " + QString::number(freeKb) + " von " + QString::number(totalKb) + " kb frei");
    const uint32_t maxClients = tse_getMaxNumberOfClients();
    const uint32_t clients = tse_getCurrentNumberOfClients();
    core.Log("°  Anz. Kassen: " + QString::number(clients) + " von " + QString::number(maxClients) + " belegt");
    const uint32_t maxTransactions = tse_getMaxNumberOfTransactions();
    const uint32_t transactions = tse_getCurrentNumberOfTransactions();
    core.Log("°  Anz. Trans.: " + QString::number(transactions) + " von " + QString::number(maxTransactions) +
        " belegt");
    core.Log("° ");
}
