// The program's window: it shows what the service's core holds and asks
// the operator's questions; it decides nothing and holds no data a job
// reads. The service runs the same without it (--unattended).
#pragma once

#include <QStringList>
#include <QWidget>

class QFrame;
class QLabel;
class QListWidget;
class QPlainTextEdit;
class QPushButton;
class QTimer;
class TCore;
class TService;

class TMainForm : public QWidget {
    Q_OBJECT

public:
    explicit TMainForm(TService& service, QWidget* parent = nullptr);
    ~TMainForm() override;

    TCore& Core();

    // ---- Controls ---------------------------------------------------------
    QLabel* Label1 = nullptr;  // "Letzte Vorgänge"
    QLabel* Label2 = nullptr;  // "Fehler-Meldungen  &  Hinweise"
    QLabel* Label3 = nullptr;  // "Registrierte Kassen"
    QLabel* Label4 = nullptr;  // "Technische Daten"
    QLabel* Label5 = nullptr;  // "letzte Sig.Nr."
    QLabel* Label6 = nullptr;  // "letzte TA.Nr."
    QLabel* Label7 = nullptr;  // "Dieser Vorgang kann einige Minuten dauern"
    QLabel* lbSigNr = nullptr;
    QLabel* lbTANr = nullptr;
    QLabel* lbVersion = nullptr;
    QLabel* lbWaitMsg = nullptr;
    QLabel* lbVokLink = nullptr;
    QLabel* Image1 = nullptr;
    QLabel* Image2 = nullptr;
    QPlainTextEdit* Memo1 = nullptr;
    QListWidget* liTSE = nullptr;
    QListWidget* liKas = nullptr;
    QListWidget* liTA = nullptr;
    QListWidget* liErr = nullptr;
    QPushButton* Btn_TAFree = nullptr;
    QPushButton* Btn_EXP = nullptr;
    QPushButton* Btn_Cer = nullptr;
    QPushButton* Btn_Deactiv = nullptr;
    QFrame* paCopyright = nullptr;
    QFrame* paWAIT = nullptr;
    QTimer* BlinkTimer = nullptr;

    // ---- Event handlers ---------------------------------------------------
    void FormCreate();
    bool FormCloseQuery();     // true: the close is granted
    void BlinkTimerTimer();
    void Btn_EXPClick();
    void Btn_CerClick();
    void Btn_TAFreeClick();
    void Btn_DeactivClick();

    // Lines of a list control, for reading the window's state.
    static QStringList Lines(const QListWidget* list);

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void BuildControls();
    void Mirror();              // every part of the shown state
    void MirrorPart(int part);  // one TShownState::Part
    void ShowExportPanel(bool on);

    TService& service_;
};
