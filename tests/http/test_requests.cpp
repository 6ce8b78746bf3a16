// The door's checks as pure functions: the cases a client could get wrong.
#include "http/HttpRequests.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <gtest/gtest.h>

TEST(HttpRequests, RoutesAndIds)
{
    THttpRoute r;
    EXPECT_TRUE(RouteRequest("PUT", "/v1/receipts/Kasse_1-2026", r).Ok());
    EXPECT_EQ(r.kind, THttpKind::Receipt);
    EXPECT_EQ(r.id, "Kasse_1-2026");
    EXPECT_TRUE(r.hasBody);
    EXPECT_TRUE(RouteRequest("GET", "/v1/exports/" + QByteArray(64, 'x'), r).Ok());
    EXPECT_FALSE(r.hasBody);
    EXPECT_EQ(RouteRequest("PUT", "/v1/exports/" + QByteArray(65, 'x'), r).status, 400);
    EXPECT_EQ(RouteRequest("PUT", "/v1/receipts/", r).status, 400);
    EXPECT_EQ(RouteRequest("PUT", "/v1/receipts/a b", r).status, 400);
    EXPECT_EQ(RouteRequest("PUT", "/v1/receipts/..", r).status, 400);
    EXPECT_EQ(RouteRequest("PUT", "/v1/receipts/a/b", r).status, 404);
    EXPECT_EQ(RouteRequest("PUT", "/v2/receipts/a", r).status, 404);
    EXPECT_EQ(RouteRequest("POST", "/v1/receipts/a", r).status, 405);
    EXPECT_EQ(RouteRequest("PUT", "/v1/health", r).status, 405);
    ASSERT_TRUE(RouteRequest("GET", "/v1/health", r).Ok());
    EXPECT_FALSE(r.needsToken);
    ASSERT_TRUE(RouteRequest("GET", "/v1/status", r).Ok());
    EXPECT_TRUE(r.needsToken);
}

TEST(HttpRequests, OnlyLoopbackNamesAreHosts)
{
    for (const char* ok : {"localhost", "LOCALHOST:8080", "127.0.0.1", "127.0.0.1:1", "[::1]", "[::1]:8443"})
        EXPECT_TRUE(IsLoopbackHost(ok)) << ok;
    for (const char* bad : {"", "localhost.", "localhost.evil.example", "127.0.0.1.nip.io", "127.0.0.2", "[::1",
                            "[::2]:80", "localhost:80x", "localhost:", "10.0.0.1:8080", "[::1]x"})
        EXPECT_FALSE(IsLoopbackHost(bad)) << bad;
}

TEST(HttpRequests, ContentTypeAndWait)
{
    EXPECT_TRUE(IsJsonContentType("application/json"));
    EXPECT_TRUE(IsJsonContentType("Application/JSON; charset=UTF-8"));
    EXPECT_FALSE(IsJsonContentType("application/json; charset=latin1"));
    EXPECT_FALSE(IsJsonContentType("text/json"));
    EXPECT_FALSE(IsJsonContentType(""));
    EXPECT_EQ(WaitSeconds("", 5, 60), 5);
    EXPECT_EQ(WaitSeconds("respond-async, wait=12", 5, 60), 12);
    EXPECT_EQ(WaitSeconds("wait=100000", 5, 60), 60);
    EXPECT_EQ(WaitSeconds("wait=-1", 5, 60), 5);
    EXPECT_EQ(WaitSeconds("wait=0", 5, 60), 0);
}

TEST(HttpRequests, ABodyIsOneObjectOfItsKindsKeys)
{
    THttpJob job;
    job.kind = THttpKind::Receipt;
    ASSERT_TRUE(ParseJobBody(R"({"kasid":"K1","sigtext":"Beleg \u20ac 1,00"})", job).Ok());
    EXPECT_EQ(job.sigtext, QString::fromUtf8("Beleg € 1,00"));  // in Windows-1252
    EXPECT_TRUE(job.bonid.isEmpty());
    const std::string sha = job.sha256;
    // Spelling is not content; an absent and an empty bonid are the same job.
    ASSERT_TRUE(ParseJobBody(R"( {"bonid":"", "sigtext":"Beleg \u20ac 1,00" ,"kasid":"K1"} )", job).Ok());
    EXPECT_EQ(job.sha256, sha);
    // The kind is part of the content.
    THttpJob op;
    op.kind = THttpKind::Operation;
    ASSERT_TRUE(ParseJobBody(R"({"kasid":"K1","sigtext":"Beleg \u20ac 1,00"})", op).Ok());
    EXPECT_NE(op.sha256, sha);

    EXPECT_EQ(ParseJobBody(R"({"kasid":"K1","sigtext":"a","bonid":"1"})", op).status, 400);  // no bonid in a TEXT
    EXPECT_EQ(ParseJobBody(R"({"kasid":"K1","sigtext":"a"} x)", job).status, 400);
    EXPECT_EQ(ParseJobBody("", job).status, 400);
    EXPECT_EQ(ParseJobBody(R"({"kasid":"K1","kasid":"K1","sigtext":"a"})", job).status, 400);
    EXPECT_EQ(ParseJobBody(R"({"kasid":"","sigtext":"a"})", job).status, 422);
    EXPECT_EQ(ParseJobBody(R"({"kasid":"K1","sigtext":"a\rb"})", job).status, 422);
    EXPECT_EQ(ParseJobBody(R"({"kasid":"K1","sigtext":"a\u0000b"})", job).status, 422);
    EXPECT_EQ(ParseJobBody(R"({"kasid":"K1","sigtext":"\ud83d\ude00"})", job).status, 422);
    EXPECT_EQ(ParseJobBody(R"({"kasid":")" + QByteArray(31, 'k') + R"(","sigtext":"a"})", job).status, 422);
    EXPECT_TRUE(ParseJobBody(R"({"kasid":")" + QByteArray(30, 'k') + R"(","sigtext":")" + QByteArray(100, 's') + "\"}",
                             job)
                    .Ok());

    THttpJob exp;
    exp.kind = THttpKind::Export;
    ASSERT_TRUE(ParseJobBody(R"({"kasid":"K1","von":"1","bis":"20"})", exp).Ok());
    EXPECT_EQ(exp.von, "1");
    EXPECT_EQ(exp.bis, "20");
    EXPECT_EQ(ParseJobBody(R"({"kasid":"K1","sigtext":"a"})", exp).status, 400);
}

TEST(HttpRequests, DuplicateKeysAreFoundOnlyAtTheTop)
{
    EXPECT_EQ(DuplicateTopLevelKey(R"({"a":1,"b":{"a":2,"a":3},"c":["a","a"]})"), "");
    EXPECT_EQ(DuplicateTopLevelKey(R"({"a":"x\"a","a":2})"), "a");
    EXPECT_EQ(DuplicateTopLevelKey(R"({"\u0061":1,"a":2})"), "a");
    EXPECT_EQ(DuplicateTopLevelKey(R"({"a":"},{\"a\":1","b":2})"), "");
}

TEST(HttpRequests, AnswersAndProblemsCarryTheirFields)
{
    THttpResult r;
    r.id = "x";
    r.finished = false;
    r.transactionNumber = 4294967296ull;
    r.result = "ERR 1004h";
    const QJsonObject o = QJsonDocument::fromJson(ResultJson(r)).object();
    for (const char* key : {"id", "state", "kasid", "bonid", "sigtext", "start", "end", "transaction_number",
                            "signature_counter", "signature", "result"})
        EXPECT_TRUE(o.contains(key)) << key;
    EXPECT_EQ(o.value("state").toString(), "FAILED");
    EXPECT_EQ(o.value("transaction_number").toInteger(), 4294967296ll);
    EXPECT_EQ(o.value("result").toString(), "ERR 1004h");

    const QJsonObject p =
        QJsonDocument::fromJson(ProblemJson(MakeProblem(409, "id-taken", "Conflict", "used"))).object();
    EXPECT_EQ(p.value("type").toString(), "urn:vok-tse:problem:id-taken");
    EXPECT_EQ(p.value("status").toInt(), 409);
    EXPECT_EQ(LocationOf(THttpKind::Operation, "a1"), "/v1/operations/a1");
}
