// Jobs through the real door: handed on once, answered from another thread,
// repeated as often as the client likes.
#include "DoorFixture.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <thread>

namespace {

// The answer given from a thread of its own, as the service's queue will.
void AnswerFromAnotherThread(const TReply& reply, int status, const THttpHeaders& headers, const QByteArray& body)
{
    std::thread([&] { reply.Answer(status, headers, body); }).join();
}

}  // namespace

TEST_F(DoorTest, AReceiptIsHandedOnOnceAndItsAnswerReplayedByteForByte)
{
    StartDoor();
    TRawConnection c(Port());
    ASSERT_TRUE(c.Send(RawRequest("PUT", "/v1/receipts/R-1", token_, kReceipt)));
    THttpJob job;
    TReply reply;
    ASSERT_TRUE(NextJob(job, reply));
    EXPECT_EQ(job.method, "PUT");
    EXPECT_EQ(job.kind, THttpKind::Receipt);
    EXPECT_EQ(job.id, "R-1");
    EXPECT_EQ(job.kasid, "Kasse01");
    EXPECT_EQ(job.bonid, "1");
    EXPECT_EQ(job.sigtext, "Beleg^1.00_0.00_0.00_0.00_0.00^1.00:Bar");
    EXPECT_EQ(job.sha256.size(), 64u);
    const QByteArray answer = Result("R-1", 42);
    AnswerFromAnotherThread(reply, 200, {}, answer);
    const TRawReply first = c.Read();
    ASSERT_EQ(first.status, 200);
    EXPECT_EQ(first.body, answer.toStdString());
    EXPECT_EQ(first.headers.count("idempotent-replayed"), 0u);

    // The same content in another spelling is the same request.
    const TRawReply again =
        Put("/v1/receipts/R-1", R"({ "sigtext" : "Beleg^1.00_0.00_0.00_0.00_0.00^1.00:Bar", "bonid":"1", "kasid":"Kasse01" })");
    EXPECT_EQ(again.status, 200);
    EXPECT_EQ(again.body, first.body);
    EXPECT_EQ(again.Header("idempotent-replayed"), "true");
    EXPECT_EQ(Get("/v1/receipts/R-1").body, first.body);
    // Other content, or the id as an operation: taken.
    EXPECT_EQ(Put("/v1/receipts/R-1", R"({"kasid":"Kasse01","bonid":"2","sigtext":"x"})").status, 409);
    EXPECT_EQ(Put("/v1/operations/R-1", R"({"kasid":"Kasse01","sigtext":"x"})").status, 409);
    EXPECT_EQ(Get("/v1/operations/R-1").status, 404);
    EXPECT_EQ(HandedOn(), 1);
}

TEST_F(DoorTest, AJobNotAnsweredInTimeIsPendingAndItsLateAnswerIsKept)
{
    StartDoor();
    const std::string wait0 = "Prefer: wait=0\r\n";
    const TRawReply pending = Put("/v1/operations/op7", R"({"kasid":"K1","sigtext":"Tagesabschluss"})", wait0);
    EXPECT_EQ(pending.status, 202);
    EXPECT_EQ(pending.Header("location"), "/v1/operations/op7");
    EXPECT_EQ(QJsonDocument::fromJson(QByteArray::fromStdString(pending.body)).object().value("state").toString(),
              "PENDING");
    THttpJob job;
    TReply reply;
    ASSERT_TRUE(NextJob(job, reply));

    // While it waits: the same request waits for the same job, other content is refused.
    EXPECT_EQ(Put("/v1/operations/op7", R"({"kasid":"K1","sigtext":"Tagesabschluss"})", wait0).status, 202);
    EXPECT_EQ(Put("/v1/operations/op7", R"({"kasid":"K1","sigtext":"other"})", wait0).status, 409);
    EXPECT_EQ(RawExchange(Port(), RawRequest("GET", "/v1/operations/op7", token_, "", wait0)).status, 202);

    // A GET that waits gets the answer when it comes.
    TRawConnection waiting(Port());
    ASSERT_TRUE(waiting.Send(RawRequest("GET", "/v1/operations/op7", token_, "", "Prefer: wait=30\r\n")));
    TRawConnection put(Port());
    ASSERT_TRUE(put.Send(RawRequest("PUT", "/v1/operations/op7", token_, R"({"kasid":"K1","sigtext":"Tagesabschluss"})",
                                    "Prefer: wait=30\r\n")));
    // Suspended before the answer or arriving after it, both read the same bytes.
    const QByteArray answer = Result("op7", 8);
    AnswerFromAnotherThread(reply, 200, {}, answer);
    EXPECT_EQ(waiting.Read().body, answer.toStdString());
    EXPECT_EQ(put.Read().body, answer.toStdString());
    EXPECT_EQ(Get("/v1/operations/op7").body, answer.toStdString());
    EXPECT_EQ(HandedOn(), 1);
}

TEST_F(DoorTest, AJobThatReachedNoTseLeavesItsIdFree)
{
    StartDoor();
    TRawConnection c(Port());
    ASSERT_TRUE(c.Send(RawRequest("PUT", "/v1/receipts/r9", token_, kReceipt)));
    THttpJob job;
    TReply reply;
    ASSERT_TRUE(NextJob(job, reply));
    AnswerFromAnotherThread(reply, 503, {{"Retry-After", "3"}}, R"({"status":503})");
    const TRawReply refused = c.Read();
    EXPECT_EQ(refused.status, 503);
    EXPECT_EQ(refused.Header("retry-after"), "3");

    // A reply dropped unanswered counts the same.
    TRawConnection other(Port());
    ASSERT_TRUE(other.Send(RawRequest("PUT", "/v1/receipts/r9", token_, R"({"kasid":"K1","sigtext":"new"})")));
    ASSERT_TRUE(NextJob(job, reply));
    EXPECT_EQ(job.sigtext, "new");
    reply = TReply();
    EXPECT_EQ(other.Read().status, 503);
    EXPECT_EQ(Get("/v1/receipts/r9").status, 404);
}

TEST_F(DoorTest, AClientThatHangsUpWhileItsAnswerWaitsHarmsNothing)
{
    StartDoor();
    // Answered after the client has gone.
    {
        TRawConnection c(Port());
        ASSERT_TRUE(c.Send(RawRequest("PUT", "/v1/receipts/gone", token_, kReceipt)));
        THttpJob job;
        TReply reply;
        ASSERT_TRUE(NextJob(job, reply));
        c.Close();
        AnswerFromAnotherThread(reply, 200, {}, Result("gone", 1));
    }
    // Gone before its wait ran out, answered after that.
    TReply late;
    {
        TRawConnection c(Port());
        ASSERT_TRUE(c.Send(RawRequest("PUT", "/v1/receipts/gone2", token_, kReceipt, "Prefer: wait=1\r\n")));
        THttpJob job;
        ASSERT_TRUE(NextJob(job, late));
        c.Close();
    }
    EXPECT_EQ(Put("/v1/receipts/gone2", kReceipt, "Prefer: wait=0\r\n").status, 202);
    // The waits have all run out once a fresh wait of one second has.
    EXPECT_EQ(Put("/v1/receipts/gone2", kReceipt, "Prefer: wait=1\r\n").status, 202);
    AnswerFromAnotherThread(late, 200, {}, Result("gone2", 2));

    EXPECT_EQ(Get("/v1/receipts/gone").body, Result("gone", 1).toStdString());
    EXPECT_EQ(Get("/v1/receipts/gone2").body, Result("gone2", 2).toStdString());
    // And a hang-up right as the door stops.
    TRawConnection c(Port());
    ASSERT_TRUE(c.Send(RawRequest("PUT", "/v1/receipts/atstop", token_, kReceipt)));
    THttpJob job;
    ASSERT_TRUE(NextJob(job, late));
    c.Close();
    door_->Stop();
    EXPECT_FALSE(late.Answer(200, {}, Result("atstop", 3)));
}

TEST_F(DoorTest, AnswersSurviveARestartOfTheDoor)
{
    StartDoor();
    TRawConnection c(Port());
    ASSERT_TRUE(c.Send(RawRequest("PUT", "/v1/receipts/keep", token_, kReceipt)));
    THttpJob job;
    TReply reply;
    ASSERT_TRUE(NextJob(job, reply));
    AnswerFromAnotherThread(reply, 200, {}, Result("keep", 5));
    const std::string answered = c.Read().body;
    EXPECT_EQ(Put("/v1/receipts/open", kReceipt, "Prefer: wait=0\r\n").status, 202);
    ASSERT_TRUE(NextJob(job, reply));
    door_->Stop();
    reply = TReply();

    StartDoor();
    const TRawReply replay = Put("/v1/receipts/keep", kReceipt);
    EXPECT_EQ(replay.status, 200);
    EXPECT_EQ(replay.body, answered);
    EXPECT_EQ(replay.Header("idempotent-replayed"), "true");
    EXPECT_EQ(Put("/v1/receipts/keep", R"({"kasid":"K1","sigtext":"x"})").status, 409);
    // Pending at the stop: the repeat is handed on once more, marked so the
    // service looks in its journal first; other content is still refused.
    EXPECT_EQ(Put("/v1/receipts/open", R"({"kasid":"K1","sigtext":"x"})").status, 409);
    EXPECT_EQ(Get("/v1/receipts/open").status, 202);
    EXPECT_EQ(Put("/v1/receipts/open", kReceipt, "Prefer: wait=0\r\n").status, 202);
    ASSERT_TRUE(NextJob(job, reply));
    EXPECT_TRUE(job.repeated);
    EXPECT_EQ(job.id, "open");
}

TEST_F(DoorTest, AStockClientSignsAndRepeats)
{
    StartDoor();
    const auto curl = [&](const QByteArray& body) {
        QProcess p;
        p.start("curl", {"-s", "-i", "-X", "PUT", "-H", "Authorization: Bearer " + QString::fromStdString(token_), "-H",
                         "Content-Type: application/json", "--data-binary", QString::fromUtf8(body),
                         QStringLiteral("http://127.0.0.1:%1/v1/receipts/curl-1").arg(Port())});
        p.waitForFinished(20000);
        return p.readAllStandardOutput();
    };
    std::thread answerer([&] {
        THttpJob job;
        TReply reply;
        if (NextJob(job, reply, 15000)) reply.Answer(200, {}, Result("curl-1", 11));
    });
    const QByteArray first = curl(QByteArray::fromStdString(kReceipt));
    answerer.join();
    const QByteArray second = curl(QByteArray::fromStdString(kReceipt));
    ASSERT_TRUE(first.startsWith("HTTP/1.1 200")) << first.toStdString();
    EXPECT_TRUE(first.endsWith(Result("curl-1", 11)));
    EXPECT_TRUE(second.endsWith(Result("curl-1", 11)));
    EXPECT_TRUE(second.toLower().contains("idempotent-replayed: true"));
    EXPECT_EQ(HandedOn(), 1);
}

TEST_F(DoorTest, ManyClientsAnsweredFromManyThreadsWhileSomeHangUp)
{
    constexpr int kClients = 40;
    StartDoor();
    std::vector<std::unique_ptr<TRawConnection>> clients;
    for (int i = 0; i < kClients; ++i) {
        clients.push_back(std::make_unique<TRawConnection>(Port()));
        const std::string id = "m" + std::to_string(i);
        ASSERT_TRUE(clients.back()->Send(RawRequest("PUT", "/v1/receipts/" + id, token_, kReceipt,
                                                    i % 4 == 3 ? "Prefer: wait=0\r\n" : "")));
    }
    std::vector<std::pair<THttpJob, TReply>> jobs(kClients);
    for (auto& [job, reply] : jobs) ASSERT_TRUE(NextJob(job, reply));
    // Every third client is gone before its answer; four threads answer.
    for (int i = 0; i < kClients; i += 3) clients[static_cast<size_t>(i)]->Close();
    std::vector<std::thread> answerers;
    for (int t = 0; t < 4; ++t)
        answerers.emplace_back([&, t] {
            for (size_t i = static_cast<size_t>(t); i < jobs.size(); i += 4)
                jobs[i].second.Answer(200, {}, Result(jobs[i].first.id, i + 1));
        });
    for (auto& a : answerers) a.join();
    for (int i = 0; i < kClients; ++i) {
        const std::string id = "m" + std::to_string(i);
        if (i % 3 != 0 && i % 4 != 3) {
            EXPECT_EQ(clients[static_cast<size_t>(i)]->Read().status, 200) << id;
        }
        const TRawReply kept = Get("/v1/receipts/" + id);
        EXPECT_EQ(kept.status, 200) << id;
        EXPECT_NE(kept.body.find("\"id\":\"" + id + "\""), std::string::npos) << kept.body;
    }
    EXPECT_EQ(HandedOn(), kClients);
}
