// The client against a stand-in service: a thread that answers job files in
// a temporary job directory the way the service's job pass does.
#include "vok-tse-client/Client.h"
#include "vok-tse-client/ExitCodes.h"
#include "vok-tse-client/JobExchange.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>
#include <atomic>
#include <gtest/gtest.h>
#include <mutex>
#include <thread>

using namespace vokclient;
using namespace std::chrono_literals;

namespace {

QByteArray Read(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void Write(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    f.write(bytes);
}

class FakeService {
public:
    explicit FakeService(QString dir) : dir_(std::move(dir)), thread_([this] { Loop(); }) {}
    ~FakeService()
    {
        stop_ = true;
        thread_.join();
    }
    QByteArray statusAnswer = "CMD=STATUS OK\r\nTSE=ONLINE\r\nKASID=K1\r\nPUBKEY=UEs=\r\nTIFO=unixTime\r\n"
                              "HASHALGO=ecdsa-plain-SHA384\r\n*EOF*\r\n";
    QByteArray bonFirstLine = "CMD=BON OK";

    QList<QByteArray> jobs()
    {
        std::lock_guard lock(mutex_);
        return jobs_;
    }

private:
    void Loop()
    {
        while (!stop_) {
            for (const QString& name : QDir(dir_).entryList({"*.TSE"}, QDir::Files)) {
                const QString job = dir_ + '/' + name;
                const QByteArray bytes = Read(job);
                {
                    std::lock_guard lock(mutex_);
                    jobs_.append(bytes);
                }
                const QString sig = dir_ + '/' + name.chopped(4) + ".SIG";
                QByteArray answer;
                if (bytes.startsWith("CMD=STATUS"))
                    answer = statusAnswer;
                else
                    answer = bonFirstLine + "\r\nKASID=K1\r\nSIGTEXT=x\r\nSTART=s\r\nENDE=e\r\nTRANR=5\r\n"
                                            "SIGNR=9\r\nSIG=U0k=\r\n*EOF*\r\n";
                // Written in two steps, as a reader may find it meanwhile.
                const int half = answer.size() / 2;
                Write(sig, answer.left(half));
                QThread::msleep(20);
                Write(sig, answer);
                QFile::remove(job);
            }
            QThread::msleep(2);
        }
    }

    QString dir_;
    std::atomic<bool> stop_{false};
    std::mutex mutex_;
    QList<QByteArray> jobs_;
    std::thread thread_;
};

class ClientExchange : public ::testing::Test {
protected:
    QTemporaryDir tmp;
    JobFiles files;
    void SetUp() override
    {
        ASSERT_TRUE(tmp.isValid());
        files.dir = tmp.path();
        files.name = "Kasse01";
    }
    RunResult RunClient(std::initializer_list<const char*> args)
    {
        std::vector<QByteArray> v{"--dir", tmp.path().toLocal8Bit(), "--name", "Kasse01", "--timeout", "5"};
        for (const char* a : args) v.emplace_back(a);
        return RunCommandLine(v);
    }
};

}  // namespace

TEST_F(ClientExchange, SubmitHandsOverACompleteJobOnly)
{
    Write(files.answer(), "CMD=BON OK\r\n*EOF*\r\n");  // stale answer of an earlier job
    ASSERT_EQ(SubmitJob(files, "CMD=STATUS\r\nKASID=K\r\n*EOF*\r\n").exitCode, ExitOk);
    EXPECT_EQ(Read(files.job()), "CMD=STATUS\r\nKASID=K\r\n*EOF*\r\n");
    EXPECT_FALSE(QFile::exists(files.answer()));
    EXPECT_FALSE(QFile::exists(files.temporary()));
    EXPECT_FALSE(QDir::match("*.TSE", QFileInfo(files.temporary()).fileName()));

    // A job of the same name that the service has not taken stays as it is.
    const SubmitResult busy = SubmitJob(files, "CMD=BON\r\n*EOF*\r\n", 20ms);
    EXPECT_EQ(busy.exitCode, ExitNoAnswer);
    EXPECT_EQ(Read(files.job()), "CMD=STATUS\r\nKASID=K\r\n*EOF*\r\n");
    EXPECT_FALSE(QFile::exists(files.temporary()));

    // The service answers it and deletes it a moment later; the next job of
    // that name waits for that, and the old answer is not taken for its own.
    std::thread service([&] {
        Write(files.answer(), "CMD=STATUS OK\r\n*EOF*\r\n");
        QThread::msleep(30);
        QFile::remove(files.job());
    });
    const SubmitResult next = SubmitJob(files, "CMD=BON\r\n*EOF*\r\n", 5s);
    service.join();
    EXPECT_EQ(next.exitCode, ExitOk) << next.error.toStdString();
    EXPECT_EQ(Read(files.job()), "CMD=BON\r\n*EOF*\r\n");
    EXPECT_FALSE(QFile::exists(files.answer()));

    JobFiles nowhere{tmp.path() + "/missing", "K"};
    EXPECT_EQ(SubmitJob(nowhere, "x").exitCode, ExitIoError);
}

TEST_F(ClientExchange, AwaitWaitsForTheEndMarkAndWithdrawsOnTimeout)
{
    Write(files.answer(), "CMD=BON OK\r\nKASID=K\r\n");
    std::thread finisher([&] {
        QThread::msleep(50);
        Write(files.answer(), "CMD=BON OK\r\nKASID=K\r\n*EOF*\r\n");
    });
    const AwaitResult done = AwaitAnswer(files, 5s);
    finisher.join();
    EXPECT_EQ(done.exitCode, ExitOk);
    EXPECT_EQ(done.answer, "CMD=BON OK\r\nKASID=K\r\n*EOF*\r\n");

    // Nobody takes the job: it is withdrawn so that it is not signed later.
    QFile::remove(files.answer());
    Write(files.job(), "CMD=BON\r\n*EOF*\r\n");
    const AwaitResult late = AwaitAnswer(files, 30ms);
    EXPECT_EQ(late.exitCode, ExitNoAnswer);
    EXPECT_TRUE(late.error.contains("withdrawn"));
    EXPECT_FALSE(QFile::exists(files.job()));

    // Taken but never finished: an incomplete answer is no answer.
    Write(files.answer(), "CMD=BON OK\r\n");
    const AwaitResult half = AwaitAnswer(files, 30ms);
    EXPECT_EQ(half.exitCode, ExitNoAnswer);
    EXPECT_FALSE(half.error.contains("withdrawn"));
}

TEST_F(ClientExchange, BonWithQrAsksStatusFirst)
{
    FakeService service(tmp.path());
    const RunResult r = RunClient({"--json", "bon", "--kasid", "K1", "--sigtext", "x", "--qr"});
    EXPECT_EQ(r.exitCode, ExitOk) << r.error.toStdString();
    EXPECT_EQ(r.out,
              "{\"CMD\":\"BON OK\",\"KASID\":\"K1\",\"SIGTEXT\":\"x\",\"START\":\"s\",\"ENDE\":\"e\","
              "\"TRANR\":\"5\",\"SIGNR\":\"9\",\"SIG\":\"U0k=\","
              "\"QR\":\"V0;K1;Kassenbeleg-V1;x;5;9;s;e;ecdsa-plain-SHA384;unixTime;U0k=;UEs=\"}\n");
    const QList<QByteArray> jobs = service.jobs();
    ASSERT_EQ(jobs.size(), 2);
    EXPECT_TRUE(jobs[0].startsWith("CMD=STATUS\r\n"));
    EXPECT_TRUE(jobs[1].startsWith("CMD=BON\r\n"));
    EXPECT_FALSE(QFile::exists(files.answer()));  // taken away without --keep
}

TEST_F(ClientExchange, ExitCodesAndKeep)
{
    FakeService service(tmp.path());
    RunResult r = RunClient({"--keep", "text", "--kasid", "K1", "--sigtext", "x"});
    EXPECT_EQ(r.exitCode, ExitRefused);  // the stand-in answers every signing job as BON
    EXPECT_TRUE(r.error.startsWith("unexpected answer"));
    EXPECT_TRUE(QFile::exists(files.answer()));

    service.bonFirstLine = "CMD=BON ERR 3007h";
    r = RunClient({"bon", "--kasid", "K1", "--sigtext", "x"});
    EXPECT_EQ(r.exitCode, ExitRefused);
    EXPECT_EQ(r.error, "CMD=BON ERR 3007h");
    EXPECT_TRUE(r.out.startsWith("CMD=BON ERR 3007h\nKASID=K1\n"));  // the answer is still shown

    // No QR text without a reachable TSE, and then no receipt is signed either.
    service.statusAnswer = "CMD=STATUS OK\r\nTSE=OFFLINE ERR=1004h\r\n*EOF*\r\n";
    const int before = service.jobs().size();
    r = RunClient({"bon", "--kasid", "K1", "--sigtext", "x", "--qr"});
    EXPECT_EQ(r.exitCode, ExitRefused);
    EXPECT_EQ(service.jobs().size(), before + 1);

    // A refused call sends nothing, not even the status job of --qr.
    r = RunClient({"bon", "--qr", "--kasid", "K1", "--sigtext", QByteArray(101, 'x').constData()});
    EXPECT_EQ(r.exitCode, ExitUsage);
    EXPECT_EQ(service.jobs().size(), before + 1);
    // Nor does a client id the TSE would refuse.
    r = RunClient({"bon", "--qr", "--kasid", "Kasse_01", "--sigtext", "x"});
    EXPECT_EQ(r.exitCode, ExitUsage);
    EXPECT_TRUE(r.error.startsWith("--kasid may hold only")) << r.error.toStdString();
    EXPECT_EQ(service.jobs().size(), before + 1);
}
