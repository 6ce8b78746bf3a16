// What the operator sees, as data: the registered clients, the notices, the
// last operations, the technical data, the two counters, which buttons work
// and which panel is up. The service and its procedures change it; a window
// mirrors it through Changed; STATUS, "TA freigeben" and the status file read
// it here, never from a control. Thread of the core only.
#pragma once

#include <QObject>
#include <QString>
#include <QStringList>
#include <cstdint>

class TShownState : public QObject {
    Q_OBJECT

public:
    enum class Part { Clients, Notices, Operations, TechData, Counters, Buttons, Panels };
    enum class Button { TaFree, Export, Certificates, Deactivate };

    // The list of last operations holds this many lines.
    static constexpr int kOperationLines = 10;

    explicit TShownState(QObject* parent = nullptr) : QObject(parent) {}

    // ---- Registered clients ("Registrierte Kassen") ----
    const QStringList& Clients() const { return clients_; }
    void AddClient(const QString& id);
    void SetClients(const QStringList& ids);

    // ---- Notices ("Fehler-Meldungen & Hinweise") ----
    const QStringList& Notices() const { return notices_; }
    void AddNotice(const QString& line);
    void AddNoticeFirst(const QString& line);
    // Removes every notice that begins with prefix.
    void RemoveNotices(const QString& prefix);

    // ---- Last operations ("Letzte Vorgänge"), the newest last ----
    const QStringList& Operations() const { return operations_; }
    void AddOperation(const QString& line);

    // ---- Technical data ----
    const QStringList& TechData() const { return techData_; }
    void SetTechData(const QStringList& lines);

    // ---- Counters ("letzte Sig.Nr.", "letzte TA.Nr."); "- -" until known ----
    const QString& SigNr() const { return sigNr_; }
    const QString& TaNr() const { return taNr_; }
    void SetSigNr(uint32_t value);
    void SetTaNr(uint32_t value);
    // The counters as numbers, once known.
    bool CountersKnown() const { return taKnown_ && sigKnown_; }
    uint32_t TaNrValue() const { return taNrValue_; }
    uint32_t SigNrValue() const { return sigNrValue_; }

    // ---- Buttons ----
    bool Enabled(Button b) const { return buttons_[int(b)]; }
    void Enable(Button b, bool on);
    // The three that reach the TSE besides "TA freigeben".
    void EnableTseButtons(bool on);
    void EnableAll(bool on);

    // ---- Panels: the start-up splash and the export's wait panel ----
    bool SplashShown() const { return splash_; }
    void SetSplashShown(bool on);
    bool ExportRunning() const { return exportRunning_; }
    void SetExportRunning(bool on);

    // A clean view for a new run: lists empty, counters unknown.
    void Clear();

signals:
    void Changed(TShownState::Part part);
    // The start-up has come to its end state: the window goes to the
    // background.
    void MinimizeRequested();

private:
    void Emit(Part part) { emit Changed(part); }

    QStringList clients_;
    QStringList notices_;
    QStringList operations_;
    QStringList techData_;
    QString sigNr_ = QStringLiteral("- -");
    QString taNr_ = QStringLiteral("- -");
    uint32_t sigNrValue_ = 0, taNrValue_ = 0;
    bool sigKnown_ = false, taKnown_ = false;
    bool buttons_[4] = {false, false, false, false};
    bool splash_ = true;
    bool exportRunning_ = false;
};
