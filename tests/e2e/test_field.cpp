// The job directory of a real shop: a share that other programs and people
// write to, on a disk that fills up. Whatever stands in it, the service keeps
// answering every other job, signs nothing twice, loses nothing signed, reads
// nothing that is not a job, and keeps its log readable.
#include "ServiceHarness.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QThread>
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdio>
#include <functional>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

namespace {

QByteArray ReadFile(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// A name as the bytes it is written under (not necessarily UTF-8).
QByteArray ReadRaw(const QByteArray& path)
{
    FILE* fp = std::fopen(path.constData(), "rb");
    if (!fp) return {};
    QByteArray bytes;
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, fp)) > 0) bytes.append(buf, qsizetype(n));
    std::fclose(fp);
    return bytes;
}

bool WriteRaw(const QByteArray& path, const QByteArray& bytes)
{
    FILE* fp = std::fopen(path.constData(), "wb");
    if (!fp) return false;
    const bool ok = std::fwrite(bytes.constData(), 1, size_t(bytes.size()), fp) == size_t(bytes.size());
    return std::fclose(fp) == 0 && ok;
}

bool WaitFor(const std::function<bool()>& done, int ms = 60000)
{
    for (int waited = 0; waited < ms; waited += 20) {
        if (done()) return true;
        QThread::msleep(20);
    }
    return done();
}

QByteArray Bon(const QByteArray& kasid, const QByteArray& bonid, const QByteArray& sigtext)
{
    return "CMD=BON\r\nKASID=" + kasid + "\r\nBONID=" + bonid + "\r\nSIGTEXT=" + sigtext + "\r\n*EOF*\r\n";
}

// The status file takes a change at most once a second. A write still due
// when a test fills the disk could replace the old file after the fill and
// free its page for an answer that the test needs to fail. The start's
// changes are out once the file shows the start's STATUS job and no job
// waiting.
bool StartShownInStatusFile(const e2e::Service& svc)
{
    return WaitFor([&] {
        QFile f(svc.JobDir() + "/Vok_TSE.status.json");
        if (!f.open(QIODevice::ReadOnly)) return false;
        const QJsonObject o = QJsonDocument::fromJson(f.readAll()).object();
        return !o.value("last_job").isNull() && o.value("jobs_waiting").toInteger(-1) == 0;
    });
}

e2e::ClientResult SignOne(const e2e::Service& svc, const QString& name, const QString& bonid)
{
    return svc.Client({"--keep", "--name", name, "--timeout", "20", "bon", "--kasid", "Kasse01", "--bonid", bonid, "--sigtext",
                       "Beleg^1.00:Bar"});
}

// Every file below dir (recursively) whose content holds needle.
QStringList FilesHolding(const QString& dir, const QByteArray& needle)
{
    QStringList found;
    QDirIterator it(dir, QDir::Files | QDir::Hidden | QDir::NoSymLinks, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        if (ReadFile(path).contains(needle)) found << path;
    }
    return found;
}

}  // namespace

TEST(FieldHardening, LinksFifosAndDevicesAreNeverReadAsJobs)
{
    e2e::Service svc;
    QString why;
    ASSERT_TRUE(svc.Start(&why, {"/F"})) << why.toStdString();
    const QString jobs = svc.JobDir();

    // A link to a readable file outside the job directory (here a job-shaped
    // secret): it is neither answered nor copied anywhere.
    const QString secret = svc.ProgramDir() + "/../secret.txt";
    ASSERT_TRUE(WriteRaw(QFile::encodeName(secret), Bon("LEAK", "1", "GEHEIM-INHALT")));
    ASSERT_EQ(::symlink(QFile::encodeName(secret).constData(), QFile::encodeName(jobs + "/Leak.TSE").constData()), 0);
    // A FIFO as a job and a FIFO under an answer's name: neither may block.
    ASSERT_EQ(::mkfifo(QFile::encodeName(jobs + "/Pipe.TSE").constData(), 0666), 0);
    ASSERT_EQ(::mkfifo(QFile::encodeName(jobs + "/Fifo.SIG").constData(), 0666), 0);

    const e2e::ClientResult fifoAnswer = SignOne(svc, "Fifo", "2");
    EXPECT_EQ(fifoAnswer.exitCode, 0) << fifoAnswer.err.toStdString();
    struct stat st;
    ASSERT_EQ(::lstat(QFile::encodeName(jobs + "/Fifo.SIG").constData(), &st), 0);
    EXPECT_TRUE(S_ISREG(st.st_mode));
    EXPECT_EQ(SignOne(svc, "Other", "3").exitCode, 0);

    const QByteArray log = svc.ReadLog();
    EXPECT_TRUE(log.contains("Fehler beim Reset Leak.TSE  Err=" + QByteArray::number(ELOOP))) << log.toStdString();
    EXPECT_TRUE(log.contains("Fehler beim Reset Pipe.TSE  Err=" + QByteArray::number(EINVAL))) << log.toStdString();
    EXPECT_FALSE(QFile::exists(jobs + "/Leak.SIG"));
    EXPECT_FALSE(QFile::exists(jobs + "/Pipe.SIG"));
    EXPECT_EQ(FilesHolding(svc.ProgramDir(), "GEHEIM-INHALT"), QStringList());
    // Left where they are.
    EXPECT_EQ(::lstat(QFile::encodeName(jobs + "/Leak.TSE").constData(), &st), 0);
    EXPECT_EQ(::lstat(QFile::encodeName(jobs + "/Pipe.TSE").constData(), &st), 0);

    // Refused on every pass, but logged once.
    EXPECT_EQ(log.count("Fehler beim Reset Pipe.TSE"), 1);
    EXPECT_EQ(svc.Terminate(10000), 0);
}

TEST(FieldHardening, ANameInWindows1252IsAnsweredUnderItsOwnBytes)
{
    e2e::Service svc;
    QString why;
    ASSERT_TRUE(svc.Start(&why)) << why.toStdString();
    const QByteArray dir = QFile::encodeName(svc.JobDir()) + "/";
    ASSERT_TRUE(WriteRaw(dir + "K\xe4sse.tmp", Bon("Kasse01", "9", "Beleg^2.00:Bar")));
    ASSERT_EQ(::rename((dir + "K\xe4sse.tmp").constData(), (dir + "K\xe4sse.TSE").constData()), 0);

    ASSERT_TRUE(WaitFor([&] { return ReadRaw(dir + "K\xe4sse.SIG").endsWith("*EOF*\r\n"); }));
    EXPECT_TRUE(ReadRaw(dir + "K\xe4sse.SIG").startsWith("CMD=BON OK\r\n"));
    EXPECT_TRUE(WaitFor([&] { return ::access((dir + "K\xe4sse.TSE").constData(), F_OK) != 0; }));
    // The log is Windows-1252: the name shows there as the client wrote it.
    EXPECT_TRUE(svc.ReadLog().contains("Kasse01  TA="));
    EXPECT_FALSE(svc.ReadLog().contains("Fehler"));
    ::unlink((dir + "K\xe4sse.SIG").constData());  // a name QTemporaryDir cannot remove itself
}

TEST(FieldHardening, AHugeJobIsRefusedWithoutReadingItWhole)
{
    e2e::Service svc;
    QString why;
    ASSERT_TRUE(svc.Start(&why)) << why.toStdString();
    const QString jobs = svc.JobDir();

    QByteArray huge = "CMD=BON\r\nKASID=Kasse07\r\nBONID=77\r\nSIGTEXT=Beleg\r\n";
    const QByteArray filler(1000, 'x');
    while (huge.size() < 60 * 1024 * 1024) huge += filler + "\r\n";
    huge += "*EOF*\r\n";
    QByteArray noCommand = huge;
    noCommand.replace(0, 9, "XXX=BON\r\n");
    ASSERT_TRUE(WriteRaw(QFile::encodeName(jobs + "/Huge.tmp"), huge));
    ASSERT_TRUE(WriteRaw(QFile::encodeName(jobs + "/NoCmd.tmp"), noCommand));
    huge.clear();
    noCommand.clear();
    ASSERT_TRUE(QFile::rename(jobs + "/Huge.tmp", jobs + "/Huge.TSE"));
    ASSERT_TRUE(QFile::rename(jobs + "/NoCmd.tmp", jobs + "/NoCmd.TSE"));

    ASSERT_TRUE(WaitFor([&] { return ReadFile(jobs + "/Huge.SIG").endsWith("*EOF*\r\n"); }));
    EXPECT_EQ(ReadFile(jobs + "/Huge.SIG"),
              "CMD=BON ERR 3003h\r\nKASID=Kasse07\r\nBONID=77\r\nSIGTEXT=\r\nSTART=\r\nENDE=\r\nTRANR=0\r\nSIGNR=0\r\n"
              "SIG=\r\n*EOF*\r\n");
    EXPECT_TRUE(WaitFor([&] { return !QFile::exists(jobs + "/Huge.TSE") && !QFile::exists(jobs + "/NoCmd.TSE"); }));
    EXPECT_FALSE(QFile::exists(jobs + "/NoCmd.SIG"));
    const QByteArray log = svc.ReadLog();
    EXPECT_EQ(log.count("Huge.TSE ist zu gro\xdf ("), 1);
    EXPECT_FALSE(log.contains("TA="));  // the TSE never saw either

    const long peak = svc.PeakMemoryKiB();
    std::printf("peak resident memory with two 60 MB jobs: %ld KiB\n", peak);
#if !defined(__SANITIZE_ADDRESS__)
    EXPECT_GT(peak, 0);
    EXPECT_LT(peak, 80 * 1024);
#endif
    EXPECT_EQ(SignOne(svc, "After", "78").exitCode, 0);
}

TEST(FieldHardening, ASecondInstanceLeavesTheFirstAlone)
{
    e2e::Service svc;
    QString why;
    ASSERT_TRUE(svc.Start(&why)) << why.toStdString();
    QByteArray out;
    const int code = svc.RunAnother(30000, &out);
    EXPECT_NE(code, 0);
    EXPECT_NE(code, -1);
    EXPECT_TRUE(out.contains("Vok_TSE l")) << out.toStdString();
    EXPECT_TRUE(svc.Running());
    EXPECT_EQ(SignOne(svc, "StillHere", "1").exitCode, 0);
    EXPECT_TRUE(svc.ReadLog().contains("Vok_TSE l\xe4uft bereits in "));
    EXPECT_EQ(svc.Terminate(10000), 0);
}

// A small file system of its own for the job directory, so it can be filled
// up. Needs root; the test is skipped where mounting is not allowed.
class SmallDisk {
public:
    explicit SmallDisk(const QString& dir) : dir_(dir)
    {
        if (::geteuid() != 0) return;
        QDir().mkpath(dir);
        QProcess mount;
        mount.start("mount", {"-t", "tmpfs", "-o", "size=512k", "tmpfs", dir});
        mounted_ = mount.waitForFinished(10000) && mount.exitStatus() == QProcess::NormalExit && mount.exitCode() == 0;
    }
    ~SmallDisk() { Unmount(); }
    bool Mounted() const { return mounted_; }
    void Unmount()
    {
        if (!mounted_) return;
        QProcess::execute("umount", {"-l", dir_});
        mounted_ = false;
    }
    // Fills the disk but for one page; the returned file holds the rest.
    bool Fill(const QString& filler)
    {
        FILE* fp = std::fopen(QFile::encodeName(filler).constData(), "wb");
        if (!fp) return false;
        const QByteArray chunk(4096, 'f');
        while (std::fwrite(chunk.constData(), 1, size_t(chunk.size()), fp) == size_t(chunk.size())) {
            if (std::fflush(fp) != 0) break;
        }
        std::fclose(fp);
        return true;
    }

private:
    QString dir_;
    bool mounted_ = false;
};

TEST(FieldHardening, AFullDiskNeverSignsAReceiptTwice)
{
    e2e::Service svc;
    SmallDisk disk(svc.JobDir());
    if (!disk.Mounted()) GTEST_SKIP() << "needs root and tmpfs to fill a disk";
    QString why;
    ASSERT_TRUE(svc.Start(&why)) << why.toStdString();
    ASSERT_TRUE(StartShownInStatusFile(svc));
    const QString jobs = svc.JobDir();

    // The job is in place before the disk fills: its answer finds no room.
    ASSERT_TRUE(WriteRaw(QFile::encodeName(jobs + "/Voll.tmp"), Bon("Kasse01", "42", "Beleg^4.20:Bar")));
    ASSERT_TRUE(disk.Fill(jobs + "/filler.bin"));
    ASSERT_TRUE(QFile::rename(jobs + "/Voll.tmp", jobs + "/Voll.TSE"));

    ASSERT_TRUE(WaitFor([&] { return svc.ReadLog().contains("Voll.SIG konnte nicht geschrieben werden, Err=28"); }))
        << svc.ReadLog().toStdString();
    // Passes go on meanwhile; a job the TSE finished is never sent again.
    const qsizetype logBefore = svc.ReadLog().size();
    QThread::msleep(1500);
    EXPECT_TRUE(QFile::exists(jobs + "/Voll.TSE"));
    EXPECT_EQ(svc.ReadLog().count("Kasse01  TA="), 1);
    EXPECT_LT(svc.ReadLog().size() - logBefore, 200) << "the log grows while the disk is full";

    ASSERT_TRUE(QFile::remove(jobs + "/filler.bin"));
    ASSERT_TRUE(WaitFor([&] { return !QFile::exists(jobs + "/Voll.TSE"); }));
    const QByteArray answer = ReadFile(jobs + "/Voll.SIG");
    EXPECT_TRUE(answer.startsWith("CMD=BON OK\r\n")) << answer.toStdString();
    EXPECT_TRUE(answer.endsWith("*EOF*\r\n"));
    const QByteArray log = svc.ReadLog();
    EXPECT_EQ(log.count("Kasse01  TA="), 1);
    EXPECT_EQ(log.count("Voll.SIG konnte nicht geschrieben werden"), 1);
    EXPECT_EQ(log.count("Voll.SIG nachtr\xe4glich geschrieben"), 1);

    EXPECT_EQ(svc.Terminate(10000), 0);
    disk.Unmount();
}

TEST(FieldHardening, AnAnswerStillPendingAtTheEndIsLogged)
{
    e2e::Service svc;
    SmallDisk disk(svc.JobDir());
    if (!disk.Mounted()) GTEST_SKIP() << "needs root and tmpfs to fill a disk";
    QString why;
    ASSERT_TRUE(svc.Start(&why)) << why.toStdString();
    ASSERT_TRUE(StartShownInStatusFile(svc));
    const QString jobs = svc.JobDir();
    ASSERT_TRUE(WriteRaw(QFile::encodeName(jobs + "/Rest.tmp"), Bon("Kasse02", "5", "Beleg^5.00:Bar")));
    ASSERT_TRUE(disk.Fill(jobs + "/filler.bin"));
    ASSERT_TRUE(QFile::rename(jobs + "/Rest.tmp", jobs + "/Rest.TSE"));
    ASSERT_TRUE(WaitFor([&] { return svc.ReadLog().contains("Rest.SIG konnte nicht geschrieben werden"); }))
        << svc.ReadLog().toStdString();

    EXPECT_EQ(svc.Terminate(10000), 0);
    const QByteArray log = svc.ReadLog();
    EXPECT_TRUE(log.contains("Antwort f\xfcr Rest nicht geschrieben:"));
    EXPECT_TRUE(log.contains("CMD=BON OK\r\n"));
    EXPECT_TRUE(log.contains("SIGTEXT=Beleg^5.00:Bar\r\n"));
    disk.Unmount();
}

namespace {

int CountFinishes(const QString& drive, const QByteArray& sigtext)
{
    return FilesHolding(drive + "/.softtse", sigtext).size();
}

}  // namespace

// The service with its program directory on a small disk of its own, so
// that journal, log and answers run out of room together.
class FullProgramDisk : public ::testing::Test {
protected:
    e2e::Service svc;
    std::unique_ptr<SmallDisk> disk;
    QString why;

    void SetUp() override
    {
        const QByteArray ini = svc.ReadConfig();
        disk = std::make_unique<SmallDisk>(svc.ProgramDir());
        if (!disk->Mounted()) GTEST_SKIP() << "needs root and tmpfs to fill a disk";
        ASSERT_TRUE(WriteRaw(QFile::encodeName(svc.ProgramDir() + "/Vok_TSE.INI"), ini));
        ASSERT_TRUE(svc.Start(&why)) << why.toStdString();
    }
    void TearDown() override
    {
        if (svc.Running()) svc.Terminate(10000);
        disk->Unmount();
    }
};

TEST_F(FullProgramDisk, StopAndRestartSignNothingTwice)
{
    ASSERT_EQ(SignOne(svc, "Erst", "1").exitCode, 0);
    const QString jobs = svc.JobDir();

    // Journal, log and answers share the full disk: the receipt is signed
    // (the journal's room was taken ahead), its answer cannot be written.
    const QByteArray sigtext = "Beleg^6.66:Bar";
    ASSERT_TRUE(WriteRaw(QFile::encodeName(jobs + "/Voll.tmp"), Bon("Kasse01", "66", sigtext)));
    ASSERT_TRUE(disk->Fill(svc.ProgramDir() + "/filler.bin"));
    ASSERT_TRUE(QFile::rename(jobs + "/Voll.tmp", jobs + "/Voll.TSE"));
    ASSERT_TRUE(WaitFor([&] { return CountFinishes(svc.DriveDir(), sigtext) == 1; }));
    EXPECT_EQ(svc.Terminate(30000), 0);

    // Room again, a new start: the receipt is answered from the journal.
    ASSERT_TRUE(QFile::remove(svc.ProgramDir() + "/filler.bin"));
    ASSERT_TRUE(svc.Start(&why)) << why.toStdString();
    ASSERT_TRUE(WaitFor([&] { return !QFile::exists(jobs + "/Voll.TSE"); })) << svc.ReadLog().toStdString();
    QFile answer(jobs + "/Voll.SIG");
    ASSERT_TRUE(answer.open(QIODevice::ReadOnly));
    const QByteArray a = answer.readAll();
    EXPECT_TRUE(a.startsWith("CMD=BON OK\r\n")) << a.toStdString();
    EXPECT_EQ(CountFinishes(svc.DriveDir(), sigtext), 1);
    EXPECT_EQ(svc.Terminate(10000), 0);
}

TEST_F(FullProgramDisk, NoReceiptIsBegunWhileTheJournalHasNoRoom)
{
    const QString jobs = svc.JobDir();
    const QByteArray sigtext = "Beleg^7.77:Bar";
    ASSERT_TRUE(WriteRaw(QFile::encodeName(jobs + "/Warte.tmp"), Bon("Kasse01", "77", sigtext)));
    // No room is left for the journal's records before its first job.
    ASSERT_TRUE(disk->Fill(svc.ProgramDir() + "/filler.bin"));
    ASSERT_TRUE(QFile::rename(jobs + "/Warte.tmp", jobs + "/Warte.TSE"));
    // A second goes by, four passes a second: the receipt is not begun.
    QThread::msleep(1000);
    EXPECT_EQ(CountFinishes(svc.DriveDir(), sigtext), 0);
    EXPECT_TRUE(QFile::exists(jobs + "/Warte.TSE"));

    ASSERT_TRUE(QFile::remove(svc.ProgramDir() + "/filler.bin"));
    ASSERT_TRUE(WaitFor([&] { return !QFile::exists(jobs + "/Warte.TSE"); })) << svc.ReadLog().toStdString();
    EXPECT_EQ(CountFinishes(svc.DriveDir(), sigtext), 1);
    EXPECT_TRUE(svc.ReadLog().contains("Journal nicht beschreibbar")) << svc.ReadLog().toStdString();
    EXPECT_EQ(svc.Terminate(10000), 0);
}

// A register that reuses one job name writes its next job the moment it has
// read the answer, without waiting for the old job file to go: the new file
// replaces the old one under the name while the service is still deleting
// it. Every job is signed once and answered.
TEST(FieldHardening, ARegisterThatReusesItsJobNameAtOnceLosesNoJob)
{
    constexpr int kJobs = 200;
    e2e::Service svc;
    QString why;
    ASSERT_TRUE(svc.Start(&why)) << why.toStdString();
    const QString jobs = svc.JobDir();
    const QByteArray tmp = QFile::encodeName(jobs + "/Schnell.tmp");
    const QByteArray job = QFile::encodeName(jobs + "/Schnell.TSE");
    const QString sig = jobs + "/Schnell.SIG";
    QSet<QByteArray> numbers;
    for (int n = 1; n <= kJobs; ++n) {
        const QByteArray sigtext = "Schnell-" + QByteArray::number(n) + "^1.00:Bar";
        ASSERT_TRUE(WriteRaw(tmp, Bon("Kasse01", QByteArray::number(n), sigtext)));
        ASSERT_EQ(std::rename(tmp.constData(), job.constData()), 0);  // replaces the old job if it still stands
        QByteArray answer;
        ASSERT_TRUE(WaitFor([&] {
            QFile f(sig);
            if (!f.open(QIODevice::ReadOnly)) return false;
            answer = f.readAll();
            return answer.contains("SIGTEXT=" + sigtext + "\r\n") && answer.endsWith("*EOF*\r\n");
        }, 30000)) << "job " << n << " was never answered; log:\n" << svc.ReadLog().toStdString();
        ASSERT_TRUE(answer.startsWith("CMD=BON OK\r\n")) << answer.toStdString();
        const qsizetype at = answer.indexOf("TRANR=");
        numbers.insert(answer.mid(at, answer.indexOf('\r', at) - at));
        QFile::remove(sig);
    }
    EXPECT_EQ(numbers.size(), kJobs);
    ASSERT_TRUE(WaitFor([&] { return !QFile::exists(jobs + "/Schnell.TSE"); }));
    for (int n : {1, kJobs / 2, kJobs})
        EXPECT_EQ(CountFinishes(svc.DriveDir(), "Schnell-" + QByteArray::number(n) + "^"), 1) << n;
    EXPECT_EQ(svc.Terminate(10000), 0);
}

// An answer that cannot be created (a directory under its name) costs its
// pauses on the job's first pass only; later passes try it once, without a
// pause, so other registers are not held up. Seen in the debug log: each
// pause is one "vorerst nicht erstellt" line.
TEST(FieldHardening, AnswersThatCannotBeWrittenPauseOnlyOnTheirFirstPass)
{
    e2e::Service svc;
    QString why;
    ASSERT_TRUE(svc.Start(&why, {"/D"})) << why.toStdString();
    const QString jobs = svc.JobDir();
    for (int i = 0; i < 10; ++i) {
        const QString name = QStringLiteral("Stau%1").arg(i);
        ASSERT_TRUE(QDir(jobs).mkdir(name + ".SIG"));
        ASSERT_TRUE(WriteRaw(QFile::encodeName(jobs + "/" + name + ".tmp"),
                             Bon("Kasse0" + QByteArray::number(i), "1", "Stau^1.00:Bar")));
        ASSERT_TRUE(QFile::rename(jobs + "/" + name + ".tmp", jobs + "/" + name + ".TSE"));
    }
    // Jobs are taken in the registers' turn, not by name: wait for all ten.
    ASSERT_TRUE(WaitFor([&] {
        const QByteArray log = svc.ReadLog();
        for (int i = 0; i < 10; ++i)
            if (!log.contains("Stau" + QByteArray::number(i) + ".SIG konnte nicht erstellt werden")) return false;
        return true;
    })) << svc.ReadLog().toStdString();
    // Passes go on while another register signs two receipts.
    ASSERT_EQ(SignOne(svc, "Frei", "1").exitCode, 0);
    ASSERT_EQ(SignOne(svc, "Frei", "2").exitCode, 0);
    const QByteArray log = svc.ReadLog();
    for (int i = 0; i < 10; ++i)
        EXPECT_EQ(log.count("Stau" + QByteArray::number(i) + ".SIG konnte vorerst nicht erstellt werden"), 4) << i;
    EXPECT_EQ(svc.Terminate(10000), 0);
}

TEST(FieldHardening, AValueCutToItsProtocolLengthIsLoggedOnce)
{
    e2e::Service svc;
    QString why;
    ASSERT_TRUE(svc.Start(&why)) << why.toStdString();
    const QString jobs = svc.JobDir();
    const QByteArray longText(100000, 'x');
    ASSERT_TRUE(WriteRaw(QFile::encodeName(jobs + "/Lang.tmp"), Bon("Kasse01", "123456789012", longText)));
    ASSERT_TRUE(QFile::rename(jobs + "/Lang.tmp", jobs + "/Lang.TSE"));
    ASSERT_TRUE(WaitFor([&] { return QFile::exists(jobs + "/Lang.SIG") && !QFile::exists(jobs + "/Lang.TSE"); }));
    EXPECT_EQ(svc.Terminate(10000), 0);
    const QByteArray log = svc.ReadLog();
    EXPECT_EQ(log.count("Kasse01  SIGTEXT von 100000 auf 100 Bytes gek\xFCrzt (Lang)"), 1) << log.toStdString();
    EXPECT_EQ(log.count("Kasse01  BONID von 12 auf 10 Bytes gek\xFCrzt (Lang)"), 1) << log.toStdString();
}

// A deletion moves a job file aside for an instant; a kill in that instant
// leaves it there. The next start puts back what the journal does not know
// (a register's new job the deletion caught), and the job is answered.
TEST(FieldHardening, AJobLeftAsideByAKilledDeletionIsPutBackAndSigned)
{
    e2e::Service svc;
    QDir().mkpath(svc.JobDir());
    ASSERT_TRUE(WriteRaw(QFile::encodeName(svc.JobDir() + "/.vok-del.Zurueck.TSE"),
                         Bon("Kasse01", "9", "Zurueck^1.00:Bar")));
    QString why;
    ASSERT_TRUE(svc.Start(&why)) << why.toStdString();
    ASSERT_TRUE(WaitFor([&] { return QFile::exists(svc.JobDir() + "/Zurueck.SIG"); })) << svc.ReadLog().toStdString();
    EXPECT_FALSE(QFile::exists(svc.JobDir() + "/.vok-del.Zurueck.TSE"));
    EXPECT_FALSE(QFile::exists(svc.JobDir() + "/.vok-del.Zurueck.SIG"));
    EXPECT_EQ(svc.Terminate(10000), 0);
}
