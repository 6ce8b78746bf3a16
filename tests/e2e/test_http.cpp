// The HTTP door of the real program, driven with curl: a receipt signed and
// its signature checked in a full export; a repeat answered byte for byte
// without a new transaction; other content under the id refused; a job
// file and an id of the same name are two transactions; a kill amid fifty
// requests signs each id once; a request that reaches no TSE keeps nothing.
#include "LogMessages.h"
#include "ServiceHarness.h"

#include "softtse/DerReader.h"

#include <QDateTime>
#include <QDeadlineTimer>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMap>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <gtest/gtest.h>

#include <netinet/in.h>
#include <vector>
#include <sys/socket.h>
#include <unistd.h>

namespace {

// A loopback port nobody listens on now.
int FreePort()
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof a;
    int port = 0;
    if (::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) == 0)
        port = ntohs(a.sin_port);
    ::close(fd);
    return port;
}

struct Response {
    int status = 0;
    QByteArray headers;
    QByteArray body;
    QJsonObject json() const { return QJsonDocument::fromJson(body).object(); }
    bool Replayed() const { return headers.toLower().contains("idempotent-replayed: true"); }
};

class Door {
public:
    Door(e2e::Service& svc, int port) : svc_(svc), port_(port) {}

    QByteArray Token() const
    {
        QFile f(svc_.ProgramDir() + "/Vok_TSE.token");
        return f.open(QIODevice::ReadOnly) ? f.readAll().trimmed() : QByteArray();
    }

    std::unique_ptr<QProcess> Start(const QByteArray& method, const QString& path, const QByteArray& body = {}) const
    {
        auto p = std::make_unique<QProcess>();
        QStringList args = {"-s", "-i", "-X", method, "--max-time", "60", "-H", "Authorization: Bearer " + Token(),
                            "-H", "Prefer: wait=30"};
        if (!body.isEmpty()) args << "-H" << "Content-Type: application/json" << "--data-binary" << body;
        args << QStringLiteral("http://127.0.0.1:%1%2").arg(port_).arg(path);
        p->start("curl", args);
        return p;
    }

    static Response Finish(QProcess& p)
    {
        p.waitForFinished(90000);
        Response r;
        const QByteArray out = p.readAllStandardOutput();
        const qsizetype split = out.indexOf("\r\n\r\n");
        r.headers = out.left(split);
        r.body = split < 0 ? QByteArray() : out.mid(split + 4);
        const QList<QByteArray> first = r.headers.split('\n').value(0).split(' ');
        r.status = first.value(1).toInt();
        return r;
    }

    Response Put(const QString& path, const QByteArray& body) const { return Finish(*Start("PUT", path, body)); }
    Response Get(const QString& path) const { return Finish(*Start("GET", path)); }

private:
    e2e::Service& svc_;
    int port_;
};

QByteArray Receipt(const QByteArray& kasid, const QByteArray& bonid, const QByteArray& sigtext)
{
    return "{\"kasid\":\"" + kasid + "\",\"bonid\":\"" + bonid + "\",\"sigtext\":\"" + sigtext + "\"}";
}

using Finish = e2e::FinishMessage;

// Every finish message of a full export, by its process data.
QMultiMap<QByteArray, Finish> ExportedFinishes(e2e::Service& svc)
{
    QMultiMap<QByteArray, Finish> out;
    const e2e::ClientResult exp = svc.Client({"--json", "export", "--kasid", "Audit", "--von", "1"});
    if (exp.exitCode != 0) return out;
    QTemporaryDir unpacked;
    if (!e2e::TarExtract(svc.ExportDir() + "/" + exp.json().value("DATEI").toString(), unpacked.path())) return out;
    out = e2e::FinishesIn(unpacked.path());
    return out;
}

class HttpDoor : public ::testing::Test {
protected:
    e2e::Service svc;
    int port = FreePort();
    Door door{svc, port};

    void SetUp() override
    {
        ASSERT_GT(port, 0);
        QFile ini(svc.ProgramDir() + "/Vok_TSE.INI");
        ASSERT_TRUE(ini.open(QIODevice::Append));
        ini.write("HTTP_PORT=" + QByteArray::number(port) + "\r\n");
    }

    void StartService()
    {
        QString why;
        ASSERT_TRUE(svc.Start(&why)) << why.toStdString();
        QDeadlineTimer open(20000);
        while (door.Get("/v1/health").status != 200 && !open.hasExpired()) QThread::msleep(50);
    }
};

TEST_F(HttpDoor, AReceiptIsSignedOnceAndItsRepeatIsTheSameAnswer)
{
    StartService();
    const Response status = door.Get("/v1/status");
    ASSERT_EQ(status.status, 200) << status.body.toStdString();
    const QByteArray publicKey = QByteArray::fromBase64(status.json().value("public_key").toString().toLatin1());
    const QByteArray algorithm = status.json().value("algorithm").toString().toLatin1();

    const QByteArray body = Receipt("Kasse01", "4711", "Beleg^2.00_0.00_0.00_0.00_0.00^2.00:Bar");
    const Response first = door.Put("/v1/receipts/x", body);
    ASSERT_EQ(first.status, 200) << first.headers.toStdString() << first.body.toStdString();
    EXPECT_EQ(first.json().value("state").toString(), "FINISHED");
    EXPECT_EQ(first.json().value("result").toString(), "OK");
    EXPECT_EQ(first.json().value("bonid").toString(), "4711");

    const Response again = door.Put("/v1/receipts/x", body);
    EXPECT_EQ(again.status, 200);
    EXPECT_EQ(again.body, first.body);
    EXPECT_TRUE(again.Replayed());
    EXPECT_EQ(door.Get("/v1/receipts/x").body, first.body);

    const Response other = door.Put("/v1/receipts/x", Receipt("Kasse01", "4712", "Beleg^2.00"));
    EXPECT_EQ(other.status, 409) << other.body.toStdString();
    EXPECT_EQ(door.Put("/v1/receipts/y", body).status, 200);  // same content, another id: signed

    // A job file named x with the same receipt: a transaction of its own.
    const e2e::ClientResult file = svc.Client({"--name", "x", "--json", "bon", "--kasid", "Kasse01", "--bonid",
                                               "4711", "--sigtext", "Beleg^2.00_0.00_0.00_0.00_0.00^2.00:Bar"});
    ASSERT_EQ(file.exitCode, 0) << file.err.toStdString();
    const uint32_t httpNr = uint32_t(first.json().value("transaction_number").toInteger());
    EXPECT_NE(file.json().value("TRANR").toString().toUInt(), httpNr);

    // Three transactions of that receipt (x, y, the file): the door's
    // answer carries the signature of its own finish.
    const QMultiMap<QByteArray, Finish> finishes = ExportedFinishes(svc);
    const QList<Finish> mine = finishes.values("Beleg^2.00_0.00_0.00_0.00_0.00^2.00:Bar");
    ASSERT_EQ(mine.size(), 3);
    bool checked = false;
    for (const Finish& f : mine) {
        if (f.taNr != httpNr) continue;
        e2e::LogMessage m;
        QString why;
        ASSERT_TRUE(e2e::ParseLogMessage(f.der, m, &why)) << why.toStdString();
        EXPECT_EQ(m.signature, QByteArray::fromBase64(first.json().value("signature").toString().toLatin1()));
        EXPECT_TRUE(e2e::VerifyPlainEcdsa(publicKey, algorithm, m.signedPart, m.signature, &why)) << why.toStdString();
        checked = true;
    }
    EXPECT_TRUE(checked);
    EXPECT_TRUE(svc.ReadLog().contains("Kasse01  TA=" + QByteArray::number(httpNr) + "  Bon=4711"));
}

TEST_F(HttpDoor, OtherContentIsRefusedAlsoWhileTheFirstIsBeingSigned)
{
    QDir().mkpath(svc.DriveDir() + "/.softtse");
    StartService();
    QFile faults(svc.DriveDir() + "/.softtse/faults");
    ASSERT_TRUE(faults.open(QIODevice::WriteOnly));
    faults.write("se_finishTransaction delay 1500\n");
    faults.close();

    std::unique_ptr<QProcess> slow = door.Start("PUT", "/v1/operations/op1", "{\"kasid\":\"K1\",\"sigtext\":\"eins\"}");
    QThread::msleep(400);
    const Response other = door.Put("/v1/operations/op1", "{\"kasid\":\"K1\",\"sigtext\":\"zwei\"}");
    EXPECT_EQ(other.status, 409) << other.body.toStdString();
    const Response first = Door::Finish(*slow);
    EXPECT_EQ(first.status, 200) << first.body.toStdString();
    EXPECT_EQ(first.json().value("sigtext").toString(), "eins");
}

TEST_F(HttpDoor, AKillAmidFiftyRequestsSignsEachIdOnce)
{
    StartService();
    constexpr int kRequests = 50;
    auto bodyOf = [](int i) { return Receipt("Kasse0" + QByteArray::number(i % 3), QByteArray::number(i), "Kill " + QByteArray::number(i)); };
    std::vector<std::unique_ptr<QProcess>> running;
    for (int i = 0; i < kRequests; ++i) running.push_back(door.Start("PUT", QString("/v1/receipts/k%1").arg(i), bodyOf(i)));
    // Killed once some are answered and others are still on their way.
    QDeadlineTimer some(60000);
    while (!svc.ReadLog().contains("TA=10 ") && !some.hasExpired()) QThread::msleep(2);
    svc.Kill();
    QMap<int, QByteArray> before;
    for (int i = 0; i < kRequests; ++i) {
        const Response r = Door::Finish(*running[size_t(i)]);
        if (r.status == 200) before[i] = r.body;
    }

    EXPECT_LT(before.size(), kRequests) << "the kill came after the last answer";

    StartService();
    for (int i = 0; i < kRequests; ++i) {
        SCOPED_TRACE(i);
        const Response r = door.Put(QString("/v1/receipts/k%1").arg(i), bodyOf(i));
        ASSERT_EQ(r.status, 200) << r.body.toStdString();
        EXPECT_EQ(r.json().value("state").toString(), "FINISHED");
        if (before.contains(i)) {
            EXPECT_EQ(r.body, before[i]) << "the repeat is not what was answered before the kill";
        }
    }
    const QMultiMap<QByteArray, Finish> finishes = ExportedFinishes(svc);
    for (int i = 0; i < kRequests; ++i) EXPECT_EQ(finishes.count("Kill " + QByteArray::number(i)), 1) << "id k" << i;
    // Every answer has gone out of the spool into the door's keeping.
    EXPECT_TRUE(QDir(svc.ProgramDir() + "/TSE_HTTP").entryList({"*.TSE", "*.SIG"}, QDir::Files).isEmpty());
}

TEST_F(HttpDoor, AnExportIsAcceptedAtOnceAndToldWhenItIsThere)
{
    StartService();
    ASSERT_EQ(door.Put("/v1/receipts/e1", Receipt("Kasse01", "1", "vor dem Export")).status, 200);
    const Response accepted = door.Put("/v1/exports/ex1", "{\"kasid\":\"Kasse01\",\"von\":\"1\"}");
    EXPECT_EQ(accepted.status, 202) << accepted.body.toStdString();
    EXPECT_TRUE(accepted.headers.contains("/v1/exports/ex1"));
    Response done;
    QDeadlineTimer there(30000);
    while ((done = door.Get("/v1/exports/ex1")).status == 202 && !there.hasExpired()) QThread::msleep(100);
    ASSERT_EQ(done.status, 200) << done.body.toStdString();
    EXPECT_EQ(done.json().value("state").toString(), "FINISHED");
    const QString file = done.json().value("file").toString();
    EXPECT_TRUE(file.startsWith("EXP_1-")) << file.toStdString();
    EXPECT_TRUE(QFile::exists(svc.ExportDir() + "/" + file));
}

TEST_F(HttpDoor, ARequestThatReachesNoTseKeepsNothing)
{
    StartService();
    ASSERT_TRUE(QFile::remove(svc.DriveDir() + "/TSE-IO.bin"));
    const QByteArray body = Receipt("Kasse01", "1", "ohne TSE");
    Response r = door.Put("/v1/receipts/n1", body);
    // The first call that finds the TSE gone is the job's own; a later
    // request is refused before anything is spooled. Both say: try again.
    EXPECT_EQ(r.status, 503) << r.body.toStdString();
    EXPECT_TRUE(r.headers.toLower().contains("retry-after:"));
    r = door.Put("/v1/receipts/n1", body);
    EXPECT_EQ(r.status, 503);
    EXPECT_EQ(door.Get("/v1/health").status, 503);

    QFile marker(svc.DriveDir() + "/TSE-IO.bin");
    ASSERT_TRUE(marker.open(QIODevice::WriteOnly));
    marker.close();
    QDeadlineTimer back(60000);
    while (door.Get("/v1/health").status != 200 && !back.hasExpired()) QThread::msleep(100);
    r = door.Put("/v1/receipts/n1", body);
    EXPECT_EQ(r.status, 200) << r.body.toStdString();
    EXPECT_EQ(r.json().value("state").toString(), "FINISHED");
    EXPECT_EQ(ExportedFinishes(svc).count("ohne TSE"), 1);
}

TEST_F(HttpDoor, WithoutTheTokenNothingIsSigned)
{
    StartService();
    QProcess p;
    p.start("curl", {"-s", "-i", "-X", "PUT", "-H", "Content-Type: application/json", "--data-binary",
                     Receipt("K1", "1", "ohne Token"), QString("http://127.0.0.1:%1/v1/receipts/t1").arg(port)});
    const Response r = Door::Finish(p);
    EXPECT_EQ(r.status, 401);
    EXPECT_FALSE(svc.ReadLog().contains("Bon=1"));
}

// Many connections that never finish their request, held while the door
// is asked for its health and a file job is signed.
class OpenSockets {
public:
    OpenSockets(int port, int count, const QByteArray& firstBytes)
    {
        for (int i = 0; i < count; ++i) {
            const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
            sockaddr_in a{};
            a.sin_family = AF_INET;
            a.sin_port = htons(uint16_t(port));
            a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            if (fd < 0) break;
            if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 && !firstBytes.isEmpty())
                (void)::write(fd, firstBytes.constData(), size_t(firstBytes.size()));
            fds_.push_back(fd);
        }
    }
    ~OpenSockets()
    {
        for (int fd : fds_) ::close(fd);
    }
    // One more byte on each, as a client that trickles its request.
    void Trickle()
    {
        for (int fd : fds_) (void)::write(fd, "X", 1);
    }
    size_t Count() const { return fds_.size(); }

private:
    std::vector<int> fds_;
};

TEST_F(HttpDoor, TricklingAndCrowdingClientsDoNotStopTheService)
{
    StartService();
    {
        OpenSockets trickling(port, 100, "GET /v1/health HTTP/1.1\r\nHost: 127.0.0.1\r\nX-Slow: ");
        ASSERT_EQ(trickling.Count(), 100u);
        for (int round = 0; round < 3; ++round) {
            trickling.Trickle();
            QProcess p;
            p.start("curl", {"-s", "-o", "/dev/null", "-w", "%{http_code}", "--max-time", "5",
                             QString("http://127.0.0.1:%1/v1/health").arg(port)});
            p.waitForFinished(10000);
            EXPECT_EQ(p.readAllStandardOutput(), "200") << "round " << round;
        }
    }
    {
        OpenSockets crowd(port, 1000, {});
        const e2e::ClientResult job = svc.Client({"--json", "bon", "--kasid", "Kasse01", "--bonid", "1", "--sigtext", "im Gedränge"});
        EXPECT_EQ(job.exitCode, 0) << job.err.toStdString();
        EXPECT_TRUE(svc.Running());
    }
    EXPECT_LT(svc.PeakMemoryKiB(), 200 * 1024);
    QDeadlineTimer back(20000);
    while (door.Get("/v1/health").status != 200 && !back.hasExpired()) QThread::msleep(100);
    EXPECT_EQ(door.Put("/v1/receipts/after-crowd", Receipt("Kasse01", "2", "danach")).status, 200);
}

TEST_F(HttpDoor, AnAnswerNobodyFetchedForTwoDaysIsRemovedAtTheStart)
{
    StartService();
    ASSERT_EQ(svc.Terminate(), 0);
    const QString spool = svc.ProgramDir() + "/TSE_HTTP";
    for (const char* name : {"R_old", "R_new"}) {
        QFile f(spool + "/" + name + ".SIG");
        ASSERT_TRUE(f.open(QIODevice::WriteOnly));
        f.write("CMD=BON OK\r\nKASID=K1\r\n*EOF*\r\n");
        f.close();
    }
    QFile old(spool + "/R_old.SIG");
    ASSERT_TRUE(old.open(QIODevice::ReadWrite));
    ASSERT_TRUE(old.setFileTime(QDateTime::currentDateTime().addDays(-3), QFileDevice::FileModificationTime));
    old.close();
    StartService();
    EXPECT_FALSE(QFile::exists(spool + "/R_old.SIG"));
    EXPECT_TRUE(QFile::exists(spool + "/R_new.SIG"));
    EXPECT_TRUE(svc.ReadLog().contains("R_old.SIG nach 48 Stunden ohne Abholung entfernt"));
}

TEST(HttpDoorShut, WithoutAPortOrWithAReadableTokenTheDoorStaysShut)
{
    e2e::Service svc;
    const int port = FreePort();
    QString why;
    ASSERT_TRUE(svc.Start(&why)) << why.toStdString();
    Door door(svc, port);
    EXPECT_EQ(door.Get("/v1/health").status, 0);  // nobody listens
    ASSERT_EQ(svc.Terminate(), 0);

    QFile token(svc.ProgramDir() + "/Vok_TSE.token");
    ASSERT_TRUE(token.open(QIODevice::WriteOnly));
    token.write(QByteArray(64, 'a'));
    token.close();
    token.setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ReadOther);
    QFile ini(svc.ProgramDir() + "/Vok_TSE.INI");
    ASSERT_TRUE(ini.open(QIODevice::Append));
    ini.write("HTTP_PORT=" + QByteArray::number(port) + "\r\n; Kasse 3 steht im Lager\r\n");
    ini.close();
    ASSERT_TRUE(svc.Start(&why)) << why.toStdString();
    EXPECT_EQ(door.Get("/v1/health").status, 0);
    EXPECT_TRUE(svc.ReadLog().contains("Vok_TSE.token")) << svc.ReadLog().toStdString();

    // A default export rewrites the INI's own lines; the admin's stay.
    const e2e::ClientResult exp = svc.Client({"--json", "export", "--kasid", "Kasse01"});
    ASSERT_EQ(exp.exitCode, 0) << exp.err.toStdString();
    EXPECT_TRUE(svc.ReadConfig().contains("HTTP_PORT=" + QByteArray::number(port) + "\r\n"));
    EXPECT_TRUE(svc.ReadConfig().contains("; Kasse 3 steht im Lager\r\n"));
}

}  // namespace
