// The window: the controls, the mirror of the shown state, the operator's
// buttons with their questions and the close question.
#include "shell/MainForm.h"

#include "core/Core.h"
#include "operator/Operator.h"
#include "platform/Dialogs.h"
#include "platform/Version.h"
#include "core/HandlerEdge.h"
#include "service/Service.h"
#include "shell/SplashArt.h"

#include <QCloseEvent>
#include <QFont>
#include <QFontMetrics>
#include <QFrame>
#include <QLabel>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QStyle>
#include <QStyledItemDelegate>
#include <QTextOption>
#include <QTimer>
#include <algorithm>

namespace {

const QColor kFormColor(230, 218, 217);
const QColor kListColor(240, 233, 232);
const QColor kMaroon(128, 0, 0);

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

const QString ExportQuestion = QStringLiteral(
    "Während des Exports können keine Bons signiert werden.\r\nSoll der Export wirklich gestartet werden?");

void ShowLines(QListWidget* list, const QStringList& lines)
{
    if (TMainForm::Lines(list) == lines) return;
    list->clear();
    list->addItems(lines);
}

}  // namespace

TMainForm::TMainForm(TService& service, QWidget* parent) : QWidget(parent), service_(service)
{
    BuildControls();
    FormCreate();
    connect(&Core().Shown, &TShownState::Changed, this, [this](TShownState::Part part) { MirrorPart(int(part)); });
    connect(&Core().Shown, &TShownState::MinimizeRequested, this, [this] { showMinimized(); });
    service_.CloseNow = [this] { close(); };
    Mirror();
}

TMainForm::~TMainForm()
{
    BlinkTimer->stop();
    service_.CloseNow = nullptr;
}

TCore& TMainForm::Core()
{
    return service_.Core();
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

    BlinkTimer = new QTimer(this);
    BlinkTimer->setInterval(500);

    connect(BlinkTimer, &QTimer::timeout, this, [this] { AtHandlerEdge([this] { BlinkTimerTimer(); }); });
    connect(Btn_EXP, &QPushButton::clicked, this, [this] { AtHandlerEdge([this] { Btn_EXPClick(); }); });
    connect(Btn_Cer, &QPushButton::clicked, this, [this] { AtHandlerEdge([this] { Btn_CerClick(); }); });
    connect(Btn_TAFree, &QPushButton::clicked, this, [this] { AtHandlerEdge([this] { Btn_TAFreeClick(); }); });
    connect(Btn_Deactiv, &QPushButton::clicked, this, [this] { AtHandlerEdge([this] { Btn_DeactivClick(); }); });
}

// ---- Creation --------------------------------------------------------------------

void TMainForm::FormCreate()
{
    // Qt's message boxes are the classic kind already.
    setWindowTitle(QStringLiteral("VOKTAR TSE"));
    BlinkTimer->stop();
    paCopyright->move((width() - paCopyright->width()) / 2, (height() - paCopyright->height()) / 2);
    paWAIT->move((width() - paWAIT->width()) / 2, (height() - paWAIT->height()) / 2);
    paWAIT->hide();
    lbVersion->setText("TSE Vers. " + plat::ProgramVersion());
}

QStringList TMainForm::Lines(const QListWidget* list)
{
    QStringList lines;
    if (!list) return lines;
    for (int i = 0; i < list->count(); ++i) lines << list->item(i)->text();
    return lines;
}

// ---- The mirror of the shown state ------------------------------------------------

void TMainForm::Mirror()
{
    using P = TShownState::Part;
    for (P part : {P::Clients, P::Notices, P::Operations, P::TechData, P::Counters, P::Buttons, P::Panels})
        MirrorPart(int(part));
}

void TMainForm::MirrorPart(int part)
{
    const TShownState& shown = Core().Shown;
    using B = TShownState::Button;
    switch (TShownState::Part(part)) {
    case TShownState::Part::Clients: ShowLines(liKas, shown.Clients()); break;
    case TShownState::Part::Notices: ShowLines(liErr, shown.Notices()); break;
    case TShownState::Part::Operations: ShowLines(liTA, shown.Operations()); break;
    case TShownState::Part::TechData: ShowLines(liTSE, shown.TechData()); break;
    case TShownState::Part::Counters:
        lbSigNr->setText(shown.SigNr());
        lbTANr->setText(shown.TaNr());
        break;
    case TShownState::Part::Buttons:
        Btn_TAFree->setEnabled(shown.Enabled(B::TaFree));
        Btn_EXP->setEnabled(shown.Enabled(B::Export));
        Btn_Cer->setEnabled(shown.Enabled(B::Certificates));
        Btn_Deactiv->setEnabled(shown.Enabled(B::Deactivate));
        break;
    case TShownState::Part::Panels:
        paCopyright->setVisible(shown.SplashShown());
        ShowExportPanel(shown.ExportRunning());
        break;
    }
}

void TMainForm::ShowExportPanel(bool on)
{
    if (on == paWAIT->isVisible()) return;
    if (on) {
        paWAIT->show();
        BlinkTimer->start();
        return;
    }
    BlinkTimer->stop();
    paWAIT->hide();
    // The disabled button gave its focus to a list, which then selected its
    // first line: the focus goes back, the selection goes.
    Btn_EXP->setFocus();
    for (QListWidget* list : {liTSE, liKas, liTA, liErr}) {
        list->clearSelection();
        list->setCurrentItem(nullptr);
    }
}

void TMainForm::BlinkTimerTimer()
{
    lbWaitMsg->setHidden(!lbWaitMsg->isHidden());
}

// ---- The operator's buttons ----------------------------------------------------------

void TMainForm::Btn_EXPClick()
{
    plat::Beep();
    if (!plat::ConfirmYesNo(ExportQuestion)) return;
    StartManualExport(Core());
}

void TMainForm::Btn_CerClick()
{
    if (ExpCert(Core()) != 0) return;  // the failure is in the log
    plat::Beep();
    plat::ShowInfo(QStringLiteral("Die Zertifikate wurden in den Dateien Cer.TAR und Cer.txt gespeichert"));
}

void TMainForm::Btn_TAFreeClick()
{
    RequestFinishOpenTransactions(Core());
}

void TMainForm::Btn_DeactivClick()
{
    if (DeactivateTse(Core())) plat::ShowInfo(QStringLiteral("Die TSE wurde deaktiviert"));
}

// ---- Close protocol -----------------------------------------------------------

void TMainForm::closeEvent(QCloseEvent* event)
{
    if (service_.Ending()) {
        event->accept();
        return;
    }
    bool granted = false;
    AtHandlerEdge([this, &granted] { granted = FormCloseQuery(); });
    if (granted) {
        service_.CloseGranted();
        event->accept();
    } else {
        event->ignore();
    }
}

bool TMainForm::FormCloseQuery()
{
    switch (service_.CloseQuery()) {
    case TService::CloseAnswer::Now: return true;
    case TService::CloseAnswer::Later: return false;
    case TService::CloseAnswer::Ask: break;
    }
    plat::Beep();
    if (plat::ConfirmYesNo(QStringLiteral("Wollen Sie die Anwendung wirklich schließen?\r\n"
                                          "Danach können keine TSE-Signaturen mehr erstellt werden."))) {
        return true;
    }
    // An end request closed the question: its own close follows.
    if (Core().EndRequested()) return false;
    service_.CloseRefused();
    showMinimized();
    return false;
}
