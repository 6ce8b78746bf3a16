// Bad requests through the real door: each gets its clear 4xx as a
// problem document, reaches no callback and keeps nothing, so the id stays
// usable.
#include "DoorFixture.h"

#include <QJsonDocument>
#include <QJsonObject>

namespace {

void ExpectProblem(const TRawReply& r, int status)
{
    EXPECT_EQ(r.status, status) << r.body;
    EXPECT_EQ(r.Header("content-type"), "application/problem+json");
    const QJsonObject o = QJsonDocument::fromJson(QByteArray::fromStdString(r.body)).object();
    EXPECT_EQ(o.value("status").toInt(), status);
    EXPECT_TRUE(o.value("type").toString().startsWith("urn:vok-tse:problem:"));
    EXPECT_FALSE(o.value("title").toString().isEmpty());
    EXPECT_FALSE(o.value("detail").toString().isEmpty());
}

}  // namespace

TEST_F(DoorTest, BadRequestsGetTheirStatusAndChangeNothing)
{
    StartDoor();
    const std::string path = "/v1/receipts/A1";

    // No token, a wrong one, one with another scheme.
    ExpectProblem(RawExchange(Port(), RawRequest("PUT", path, "", kReceipt)), 401);
    ExpectProblem(RawExchange(Port(), RawRequest("PUT", path, std::string(64, '0'), kReceipt)), 401);
    ExpectProblem(RawExchange(Port(), RawRequest("PUT", path, "", kReceipt, "Authorization: Basic " + token_ + "\r\n")),
                  401);
    // Not JSON, duplicate keys (also spelt with an escape), unknown and
    // missing keys, a number for a string.
    ExpectProblem(Put(path, "{\"kasid\":"), 400);
    ExpectProblem(Put(path, R"({"kasid":"K1","sigtext":"a","sigtext":"b"})"), 400);
    ExpectProblem(Put(path, R"({"kasid":"K1","sigtext":"a","sig\u0074ext":"b"})"), 400);
    ExpectProblem(Put(path, R"({"kasid":"K1","sigtext":"a","amount":"1"})"), 400);
    ExpectProblem(Put(path, R"({"kasid":"K1"})"), 400);
    ExpectProblem(Put(path, R"({"kasid":"K1","sigtext":"a","bonid":7})"), 400);
    ExpectProblem(Put(path, R"(["kasid"])"), 400);
    // Values the job file could not carry.
    ExpectProblem(Put(path, R"({"kasid":"K1","sigtext":"a\nCMD=EXPORT"})"), 422);
    ExpectProblem(Put(path, R"({"kasid":"K1","sigtext":"\u0142"})"), 422);
    ExpectProblem(Put(path, R"({"kasid":"K1","sigtext":")" + std::string(101, 'x') + "\"}"), 422);
    ExpectProblem(Put(path, R"({"kasid":"K1","bonid":"12345678901","sigtext":"a"})"), 422);
    // Other content type; an invalid id; an unknown path; a method not taken.
    ExpectProblem(Put(path, kReceipt, "Content-Type: text/plain\r\n"), 415);
    ExpectProblem(Put("/v1/receipts/a.b", kReceipt), 400);
    ExpectProblem(Put("/v1/receipts/" + std::string(65, 'a'), kReceipt), 400);
    ExpectProblem(Get("/v1/nothing"), 404);
    const TRawReply del = RawExchange(Port(), RawRequest("DELETE", path, token_));
    ExpectProblem(del, 405);
    EXPECT_EQ(del.Header("allow"), "GET, PUT");
    // A name that is not this computer's loopback: DNS rebinding.
    ExpectProblem(RawExchange(Port(), "GET /v1/health HTTP/1.1\r\nHost: shop.example:8080\r\n\r\n"), 421);
    ExpectProblem(RawExchange(Port(), "GET /v1/health HTTP/1.1\r\nHost: 127.0.0.1.nip.io\r\n\r\n"), 421);

    EXPECT_EQ(HandedOn(), 0);
    // Nothing was kept: the id still takes any content.
    TRawConnection c(Port());
    ASSERT_TRUE(c.Send(RawRequest("PUT", path, token_, R"({"kasid":"K2","sigtext":"other"})")));
    THttpJob job;
    TReply reply;
    ASSERT_TRUE(NextJob(job, reply));
    EXPECT_EQ(job.kasid, "K2");
    reply.Answer(200, {}, Result("A1", 1));
    EXPECT_EQ(c.Read().status, 200);
}

TEST_F(DoorTest, ABodyOverTheBoundIsRefusedBeforeItIsSent)
{
    cfg_.maxBody = 100;
    StartDoor();
    TRawConnection c(Port());
    // Headers only: the answer comes without the megabyte they announce.
    ASSERT_TRUE(c.Send(RawRequest("PUT", "/v1/receipts/big", token_, "", "Content-Length: 1000000\r\n")));
    const TRawReply r = c.Read();
    EXPECT_EQ(r.status, 413);
    // Without a length the body is not taken either: it could be endless.
    TRawConnection chunked(Port());
    std::string request = RawRequest("PUT", "/v1/receipts/big", token_, "", "Transfer-Encoding: chunked\r\n");
    request.erase(request.find("Content-Length: 0\r\n"), 19);
    ASSERT_TRUE(chunked.Send(request));
    EXPECT_EQ(chunked.Read().status, 411);
    EXPECT_EQ(HandedOn(), 0);
}

TEST_F(DoorTest, HealthAndTheContractNeedNoTokenStatusDoes)
{
    StartDoor();
    const TRawReply contract = RawExchange(Port(), RawRequest("GET", "/v1/openapi.json", ""));
    EXPECT_EQ(contract.status, 200);
    EXPECT_TRUE(QJsonDocument::fromJson(QByteArray::fromStdString(contract.body)).object().contains("paths"));
    EXPECT_EQ(RawExchange(Port(), RawRequest("GET", "/v1/status", "")).status, 401);

    TRawConnection c(Port());
    ASSERT_TRUE(c.Send(RawRequest("GET", "/v1/health", "")));
    THttpJob job;
    TReply reply;
    ASSERT_TRUE(NextJob(job, reply));
    EXPECT_EQ(job.kind, THttpKind::Health);
    EXPECT_TRUE(reply.Answer(503, {}, R"({"healthy":false})"));
    EXPECT_FALSE(reply.Answer(200, {}, "{}"));  // once only
    const TRawReply r = c.Read();
    EXPECT_EQ(r.status, 503);
    EXPECT_EQ(r.body, R"({"healthy":false})");
}
