// The window's life: creation, the controls, the pauses and waits, the two
// timers, deferred requests and the close protocol.
#include "shell/MainForm.h"

#include "jobs/Jobs.h"

#include "platform/Dialogs.h"
#include "platform/Files.h"
#include "platform/Paths.h"
#include "platform/ServiceNotifier.h"
#include "platform/Version.h"
#include "shell/SplashArt.h"
#include "tse/ProcLib.h"
#include "tse/TseLib.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFileSystemWatcher>
#include <QEventLoop>
#include <QFont>
#include <QFontMetrics>
#include <QFrame>
#include <QLabel>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPointer>
#include <QPushButton>
#include <QStyle>
#include <QStyledItemDelegate>
#include <QTextOption>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <cmath>
#include <exception>

TMainForm* MainForm = nullptr;
std::atomic<bool> SessionEndPending{false};

namespace {

const QColor kFormColor(230, 218, 217);
const QColor kListColor(240, 233, 232);
const QColor kMaroon(128, 0, 0);

// The window's general error handling: whatever escapes an event handler is
// shown to the operator and the program goes on. Qt itself must never see
// an exception.
template <class Handler>
void AtHandlerEdge(Handler&& handler)
{
    try {
        handler();
    } catch (const std::exception& e) {
        plat::ShowError(QString::fromUtf8(e.what()));
    } catch (...) {
        plat::ShowError(QStringLiteral("Unbekannter Fehler"));
    }
}

QFont FormFont()
{
    QFont f(QStringLiteral("MS Sans Serif"));
    f.setStyleHint(QFont::SansSerif);
    f.setPixelSize(13);
    return f;
}

QFont ListFont()
{
    QFont f(QStringLiteral("Courier New"));
    f.setStyleHint(QFont::TypeWriter);
    f.setFixedPitch(true);
    f.setPixelSize(13);
    f.setBold(true);
    return f;
}

QFont SizedFont(int pixels, bool bold)
{
    QFont f = FormFont();
    f.setPixelSize(pixels);
    f.setBold(bold);
    return f;
}

// The list of the last operations holds ten lines and shows all of them:
// rows as high as the list allows, no horizontal bar to take a row's place,
// the newest line in view; a line that is too long ends in "…" and shows in
// full as its tooltip.
class FittedRows : public QStyledItemDelegate {
public:
    FittedRows(int rowHeight, QObject* parent) : QStyledItemDelegate(parent), rowHeight_(rowHeight) {}
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override
    {
        QSize size = QStyledItemDelegate::sizeHint(option, index);
        size.setHeight(std::min(size.height(), rowHeight_));
        return size;
    }

private:
    int rowHeight_;
};

void ShowNewestOperations(QListWidget* list)
{
    constexpr int kRows = 10;
    list->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    list->setTextElideMode(Qt::ElideRight);
    list->setUniformItemSizes(true);
    const int inner = list->height() - 2 * list->frameWidth();
    const int rowHeight = inner / kRows;
    // The geometry is fixed; a system whose font runs taller than the one
    // the window was laid out for gets the font made smaller until ten rows
    // fit, never a row that falls out of view.
    QFont font = list->font();
    while (QFontMetrics(font).height() > rowHeight && font.pixelSize() > 6) font.setPixelSize(font.pixelSize() - 1);
    list->setFont(font);
    list->setItemDelegate(new FittedRows(rowHeight, list));
    QObject::connect(list->model(), &QAbstractItemModel::rowsInserted, list, [list](const QModelIndex&, int first, int last) {
        const int room = list->viewport()->width() - 2 * list->style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, list);
        const QFontMetrics metrics(list->font());
        for (int row = first; row <= last; ++row) {
            QListWidgetItem* item = list->item(row);
            if (item && metrics.horizontalAdvance(item->text()) > room) item->setToolTip(item->text());
        }
        list->scrollToBottom();
    });
}

void SetTextColor(QWidget* w, const QColor& c)
{
    QPalette pal = w->palette();
    pal.setColor(QPalette::WindowText, c);
    pal.setColor(QPalette::Text, c);
    w->setPalette(pal);
}

// Only ASCII letters change; the switches are ASCII.
QString UpperAscii(QString s)
{
    for (QChar& c : s)
        if (c >= u'a' && c <= u'z') c = QChar(c.unicode() - 'a' + 'A');
    return s;
}

}  // namespace

TMainForm::TMainForm(const QStringList& args, QWidget* parent)
    : QWidget(parent), args_(args), notifier_(std::make_unique<plat::ServiceNotifier>())
{
    MainForm = this;
    BuildControls();
    FormCreate();
}

TMainForm::~TMainForm()
{
    Timer1->stop();
    BlinkTimer->stop();
    AtHandlerEdge([this] { FormDestroy(); });
    if (MainForm == this) MainForm = nullptr;
}

// ---- Controls ---------------------------------------------------------------

void TMainForm::BuildControls()
{
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    setAttribute(Qt::WA_DeleteOnClose);
    setFixedSize(990, 486);
    move(0, 1);
    setFont(FormFont());
    setAutoFillBackground(true);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, kFormColor);
    setPalette(pal);

    auto heading = [this](const QString& text, int left, int top) {
        auto* l = new QLabel(text, this);
        l->setFont(SizedFont(16, true));
        SetTextColor(l, kMaroon);
        l->setTextFormat(Qt::PlainText);
        l->move(left, top);
        l->adjustSize();
        return l;
    };
    auto list = [this](int left, int top, int width, int height) {
        auto* l = new QListWidget(this);
        l->setGeometry(left, top, width, height);
        l->setFont(ListFont());
        QPalette lp = l->palette();
        lp.setColor(QPalette::Base, kListColor);
        l->setPalette(lp);
        l->setSelectionMode(QAbstractItemView::SingleSelection);
        return l;
    };
    auto counter = [this](int left, int top) {
        auto* l = new QLabel(QStringLiteral("- -"), this);
        l->setGeometry(left, top, 104, 24);
        l->setAlignment(Qt::AlignCenter);
        l->setFont(SizedFont(19, false));
        return l;
    };
    auto caption = [this](const QString& text, int left, int top) {
        auto* l = new QLabel(text, this);
        l->move(left, top);
        l->adjustSize();
        return l;
    };
    auto button = [this](const QString& text, const QString& hint, int top) {
        auto* b = new QPushButton(text, this);
        b->setGeometry(830, top, 152, 30);
        b->setToolTip(hint);
        return b;
    };

    Label4 = heading(QStringLiteral("Technische Daten"), 16, 24);
    liTSE = list(8, 50, 433, 423);
    Label3 = heading(QStringLiteral("Registrierte Kassen"), 474, 24);
    liKas = list(474, 50, 159, 87);
    Label5 = caption(QStringLiteral("letzte Sig.Nr."), 687, 23);
    lbSigNr = counter(688, 47);
    Label6 = caption(QStringLiteral("letzte TA.Nr."), 687, 81);
    lbTANr = counter(688, 102);
    Btn_TAFree = button(QStringLiteral("TA freigeben"),
                        QStringLiteral("Alle offenen Transaktionen freigeben bzw. abschließen"), 24);
    Btn_EXP = button(QStringLiteral("exportieren"), QStringLiteral("Alle gespeicherten TSE-Daten exportieren"), 61);
    Btn_Cer = button(QStringLiteral("Zertifikate"), QStringLiteral("Alle gespeicherten Zertifikate exportieren"), 98);
    Btn_Deactiv = button(QStringLiteral("TSE deaktivieren"), QStringLiteral("TSE temporär deaktivieren"), 135);
    // Nothing the operator starts may run before the start-up sequence has
    // ended; it decides then which buttons work.
    for (QPushButton* b : {Btn_TAFree, Btn_EXP, Btn_Cer, Btn_Deactiv}) b->setEnabled(false);
    Label1 = heading(QStringLiteral("Letzte Vorgänge"), 474, 152);
    liTA = list(474, 178, 508, 171);
    ShowNewestOperations(liTA);
    Label2 = heading(QStringLiteral("Fehler-Meldungen  &  Hinweise"), 474, 361);
    liErr = list(474, 387, 508, 86);

    // The start-up splash.
    paCopyright = new QFrame(this);
    paCopyright->setFrameShape(QFrame::Panel);
    paCopyright->setFrameShadow(QFrame::Raised);
    paCopyright->setLineWidth(2);
    paCopyright->resize(353, 175);
    paCopyright->setAutoFillBackground(true);
    {
        QPalette sp = paCopyright->palette();
        sp.setColor(QPalette::Window, QColor(250, 244, 238));
        paCopyright->setPalette(sp);
    }
    Image2 = new QLabel(paCopyright);
    Image2->setGeometry(12, 12, 96, 96);
    Image2->setPixmap(splash::Logo(96));
    lbVersion = new QLabel(paCopyright);
    lbVersion->setGeometry(120, 14, 220, 30);
    lbVersion->setFont(SizedFont(21, true));
    SetTextColor(lbVersion, Qt::red);
    Memo1 = new QPlainTextEdit(paCopyright);
    Memo1->setGeometry(120, 50, 222, 58);
    Memo1->setReadOnly(true);
    Memo1->setFrameShape(QFrame::NoFrame);
    Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    Memo1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    Memo1->setFocusPolicy(Qt::NoFocus);
    Memo1->setFont(SizedFont(12, true));
    {
        QPalette mp = Memo1->palette();
        mp.setColor(QPalette::Base, QColor(250, 244, 238));
        mp.setColor(QPalette::Text, Qt::blue);
        Memo1->setPalette(mp);
    }
    Memo1->document()->setDefaultTextOption(QTextOption(Qt::AlignHCenter));
    Memo1->setPlainText(QStringLiteral("Signaturen für Kassenbelege\n"
                                       "durch die Technische\n"
                                       "Sicherheitseinrichtung"));
    Image1 = new QLabel(paCopyright);
    Image1->setGeometry(40, 122, 32, 32);
    Image1->setPixmap(splash::Lock(32));
    lbVokLink = new QLabel(QStringLiteral("Informationen zu VOKTAR TSE"), paCopyright);
    lbVokLink->setGeometry(92, 130, 250, 18);
    {
        QFont lf = FormFont();
        lf.setUnderline(true);
        lbVokLink->setFont(lf);
    }
    SetTextColor(lbVokLink, Qt::blue);
    lbVokLink->setCursor(Qt::PointingHandCursor);

    // The wait panel of the manual export.
    paWAIT = new QFrame(this);
    paWAIT->setFrameShape(QFrame::Panel);
    paWAIT->setFrameShadow(QFrame::Raised);
    paWAIT->setLineWidth(2);
    paWAIT->resize(353, 83);
    paWAIT->setAutoFillBackground(true);
    lbWaitMsg = new QLabel(QStringLiteral("Export läuft -  bitte warten..."), paWAIT);
    lbWaitMsg->setGeometry(4, 14, 345, 30);
    lbWaitMsg->setAlignment(Qt::AlignCenter);
    lbWaitMsg->setFont(SizedFont(21, true));
    SetTextColor(lbWaitMsg, Qt::red);
    Label7 = new QLabel(QStringLiteral("Dieser Vorgang kann einige Minuten dauern"), paWAIT);
    Label7->setGeometry(4, 50, 345, 18);
    Label7->setAlignment(Qt::AlignCenter);

    Timer1 = new QTimer(this);
    Timer1->setInterval(250);
    BlinkTimer = new QTimer(this);
    BlinkTimer->setInterval(500);

    connect(Timer1, &QTimer::timeout, this, [this] { AtHandlerEdge([this] { Timer1Timer(); }); });
    connect(BlinkTimer, &QTimer::timeout, this, [this] { AtHandlerEdge([this] { BlinkTimerTimer(); }); });
    connect(Btn_EXP, &QPushButton::clicked, this, [this] { AtHandlerEdge([this] { Btn_EXPClick(); }); });
    connect(Btn_Cer, &QPushButton::clicked, this, [this] { AtHandlerEdge([this] { Btn_CerClick(); }); });
    connect(Btn_TAFree, &QPushButton::clicked, this, [this] { AtHandlerEdge([this] { Btn_TAFreeClick(); }); });
    connect(Btn_Deactiv, &QPushButton::clicked, this, [this] { AtHandlerEdge([this] { Btn_DeactivClick(); }); });
}

// ---- Creation and destruction ------------------------------------------------

void TMainForm::FormCreate()
{
    // Qt's message boxes are the classic kind already.
    WinDown = false;
    setWindowTitle(QStringLiteral("VOKTAR TSE"));
    TseSN.clear();
    JobListe.clear();
    ProgEnde = false;
    NewVers = false;
    Exp_running = false;
    Timer1->stop();  // no job pass before the start-up has finished
    BlinkTimer->stop();
    TmpLogListe.clear();

    paCopyright->move((width() - paCopyright->width()) / 2, (height() - paCopyright->height()) / 2);
    paWAIT->move((width() - paWAIT->width()) / 2, (height() - paWAIT->height()) / 2);
    paWAIT->hide();
    lbVersion->setText("TSE Vers. " + plat::ProgramVersion());

    AktVerz = GetAktVerz();
    DatenVerz = AktVerz + "\\TSE";
    ExpVerz = AktVerz + "\\TSE_EXPO";

    // Without both directories no job can be answered: the window stays idle
    // and the start-up never runs.
    for (const QString& dir : {DatenVerz, ExpVerz}) {
        if (plat::DirectoryExists(dir)) continue;
        if (const int err = plat::CreateDir(dir)) {
            plat::ShowError(QStringLiteral("E/A-Fehler %1 (%2): %3").arg(err).arg(plat::ErrorText(err), dir));
            return;
        }
    }

    WatchJobDirectory();

    QString line;
    for (const QString& arg : args_) line += arg + ' ';
    if (args_.contains(QStringLiteral("--unattended"), Qt::CaseInsensitive)) Unattended = true;
    Param = ' ' + UpperAscii(line) + ' ';
    TseDebug = Param.contains(QStringLiteral("/D"));
    TseLogAll = Param.contains(QStringLiteral("/L"));
    TseLogFiles = Param.contains(QStringLiteral("/F"));

    ScanAnz = 0;
    QCoreApplication::postEvent(this, new QEvent(CM_STARTEN));
}

void TMainForm::FormDestroy()
{
    LogPendingAnswers(*this);  // signed, but never on the disk: the log keeps it
    tse_close();
    Log(QStringLiteral("|Vok_TSE beendet"));
    TmpLogListe.clear();  // lines still waiting are dropped
}

void TMainForm::customEvent(QEvent* event)
{
    if (event->type() != CM_STARTEN) {
        QWidget::customEvent(event);
        return;
    }
    // A close granted during one of the start-up's pauses may have destroyed
    // the window by the time CMSTART returns.
    const QPointer<TMainForm> self(this);
    AtHandlerEdge([this] { CMSTART(); });
    // An error that ended the start-up has been shown; the run stays idle.
    if (self) {
        StartupFinished = true;
        ServiceStarted();
    }
}

// The pings come from a timer of the window thread, the thread of the job
// passes: a TSE call that hangs holds it, the pings stop and systemd restarts
// the service. A pass's own waits and a manual export run the event loop and
// keep them going.
void TMainForm::ServiceStarted()
{
    ReportToService(notifier_->Ready());
    if (notifier_->AliveInterval().count() == 0) return;
    auto* alive = new QTimer(this);
    alive->setInterval(notifier_->AliveInterval());
    connect(alive, &QTimer::timeout, this, [this] { ReportToService(notifier_->Alive()); });
    alive->start();
    ReportToService(notifier_->Alive());
}

void TMainForm::LongTseCallBegins(int allowedSeconds)
{
    ReportToService(notifier_->LongCallBegins(std::chrono::seconds(allowedSeconds)));
}

void TMainForm::LongTseCallEnds()
{
    ReportToService(notifier_->LongCallEnds());
}

void TMainForm::ReportToService(int err)
{
    if (err != 0 && err != lastNotifyError_)
        Log(QStringLiteral("|Meldung an systemd nicht möglich, Err=%1").arg(err));
    lastNotifyError_ = err;
}

void TMainForm::Timer1Timer()
{
    Abarbeiten_TseJobs();
}

// ---- Instant hand-off ---------------------------------------------------------

// A job is taken as soon as its file appears instead of at the next tick.
// The pass starts only where a tick could start it: Timer1 is on, which it
// is not before the start-up has finished, during a pass or during a manual
// export, so passes still never overlap. Notices arrive for every change
// (the clients' renames, the pass's own answers and deletions); those that
// come while a pass is queued are one.
void TMainForm::WatchJobDirectory()
{
    JobWatcher = new QFileSystemWatcher(this);
    if (!JobWatcher->addPath(plat::NativePath(DatenVerz))) {
        Log(QStringLiteral("|Keine Änderungsmeldungen für ") + DatenVerz + QStringLiteral(", nur Abfrage alle 250 ms"));
        return;
    }
    connect(JobWatcher, &QFileSystemWatcher::directoryChanged, this, [this] {
        if (handOffQueued_) return;
        handOffQueued_ = true;
        // Queued, so that the pass starts from the event loop as a tick does,
        // not from within the notification.
        QTimer::singleShot(0, this, [this] {
            handOffQueued_ = false;
            if (Timer1->isActive()) AtHandlerEdge([this] { Timer1Timer(); });
        });
    });
}

QString TMainForm::ErgStr() const
{
    return QString::fromStdString(::ErgStr());
}

QStringList TMainForm::Lines(const QListWidget* list)
{
    QStringList lines;
    if (!list) return lines;
    for (int i = 0; i < list->count(); ++i) lines << list->item(i)->text();
    return lines;
}

// ---- Pauses and waits ---------------------------------------------------------

void TMainForm::Delay(int32_t ms)
{
    // Measured on a monotonic clock, so a change of the system time neither
    // stretches nor cuts a pause.
    QElapsedTimer clock;
    clock.start();
    const qint64 deadlineNs = static_cast<qint64>(double(ms) * 0.9936 * DelayFactor * 1e6);
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    for (;;) {
        const qint64 remainingNs = deadlineNs - clock.nsecsElapsed();
        if (remainingNs <= 0) break;
        // The nested loop handles events as they come and sleeps in between.
        QEventLoop loop;
        QTimer deadline;
        deadline.setSingleShot(true);
        deadline.setTimerType(Qt::PreciseTimer);
        QObject::connect(&deadline, &QTimer::timeout, &loop, &QEventLoop::quit);
        deadline.start(static_cast<int>(std::min<qint64>((remainingNs + 999999) / 1000000, INT32_MAX)));
        loop.exec();
    }
}

void TMainForm::WaitWhile(const std::function<bool()>& busy)
{
    if (!busy()) return;
    QEventLoop loop;
    auto test = [&] {
        if (!busy()) loop.quit();
    };
    // A wake-up may come before the loop runs; the safety timer catches it.
    QTimer safety;
    safety.setInterval(50);
    QObject::connect(&safety, &QTimer::timeout, &loop, test);
    const QMetaObject::Connection woken = connect(this, &TMainForm::WakeRequested, &loop, test);
    safety.start();
    while (busy()) loop.exec();
    disconnect(woken);
}

void TMainForm::WakeWaits()
{
    QMetaObject::invokeMethod(this, [this] { emit WakeRequested(); }, Qt::QueuedConnection);
}

// ---- Deferred requests ---------------------------------------------------------

void TMainForm::RunWhenTseIdle(std::function<void()> request)
{
    if (TSE_running) {
        deferred_.push_back(std::move(request));
        return;
    }
    request();
}

void TMainForm::SetTseRunning(bool on)
{
    TSE_running = on;
    WakeWaits();
    if (on || deferred_.empty()) return;
    // The operation that held the flag is still on the stack: the requests
    // run once it has returned to the event loop.
    QTimer::singleShot(0, this, [this] {
        std::vector<std::function<void()>> requests;
        requests.swap(deferred_);
        const QPointer<TMainForm> self(this);
        for (auto& request : requests) {
            if (!self) return;  // an earlier request closed the window
            AtHandlerEdge([this, &request] { RunWhenTseIdle(std::move(request)); });
        }
    });
}

// ---- Close protocol -----------------------------------------------------------

void TMainForm::closeEvent(QCloseEvent* event)
{
    if (ending_) {
        event->accept();
        return;
    }
    bool granted = false;
    AtHandlerEdge([this, &granted] { granted = FormCloseQuery(); });
    if (granted) {
        ReportToService(notifier_->Stopping());
        event->accept();
    } else {
        event->ignore();
    }
}

bool TMainForm::FormCloseQuery()
{
    ProgEnde = true;  // a running job pass takes no further job

    // A close that arrives inside a running operation's own wait cannot wait
    // for that operation; it is asked again once the operation has ended.
    if (TSE_running) {
        if (!closeDeferred_) {
            closeDeferred_ = true;
            RunWhenTseIdle([this] {
                closeDeferred_ = false;
                close();
            });
        }
        return false;
    }
    // The export worker does not hold the window thread: test again shortly.
    if (Exp_running) {
        if (!closeDeferred_) {
            closeDeferred_ = true;
            QTimer::singleShot(100, this, [this] {
                closeDeferred_ = false;
                close();
            });
        }
        return false;
    }

    if (WinDown) return true;

    plat::Beep();
    if (plat::ConfirmYesNo(QStringLiteral("Wollen Sie die Anwendung wirklich schließen?\r\n"
                                          "Danach können keine TSE-Signaturen mehr erstellt werden."))) {
        return true;
    }
    // An end request closed the question: its own close follows.
    if (EndRequested()) return false;
    ProgEnde = false;
    showMinimized();
    return false;
}

void TMainForm::WMQUERYENDSESSION()
{
    WinDown = true;
    ReportToService(notifier_->Stopping());
    // Nobody answers a dialog any more; the one open now takes its safe choice.
    plat::EndAllDialogs();
    CloseWhenNoDialogOpen();
}

void TMainForm::CloseWhenNoDialogOpen()
{
    // Queued: a job in hand finishes first, through the close's deferral. A
    // handler whose dialog has just been closed goes on first too; the window
    // must outlive it.
    QMetaObject::invokeMethod(
        this,
        [this] {
            if (plat::DialogOpen())
                QTimer::singleShot(10, this, [this] { CloseWhenNoDialogOpen(); });
            else
                close();
        },
        Qt::QueuedConnection);
}

bool TMainForm::EndRequested() const
{
    return WinDown || ending_;
}

void TMainForm::EndProgram()
{
    ending_ = true;
    ReportToService(notifier_->Stopping());
    plat::EndAllDialogs();
    close();
}
