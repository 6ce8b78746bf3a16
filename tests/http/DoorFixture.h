// A real door on a free loopback port in a temporary program directory; the
// jobs it hands on wait in a queue for the test to answer.
#pragma once

#include "RawHttp.h"
#include "http/HttpRequests.h"
#include "http/HttpServer.h"
#include "platform/Files.h"

#include <QTemporaryDir>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <gtest/gtest.h>
#include <memory>
#include <mutex>

class DoorTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(dir_.isValid());
        cfg_.anyPort = true;
        cfg_.tokenFile = dir_.filePath("Vok_TSE.token");
        cfg_.storeFile = dir_.filePath("Vok_TSE.http");
        cfg_.log = [this](const QString& line) {
            std::lock_guard lock(m_);
            logLines_.append(line);
        };
    }
    void TearDown() override { door_.reset(); }

    void StartDoor()
    {
        door_ = std::make_unique<THttpServer>(cfg_, [this](THttpJob job, TReply reply) {
            std::lock_guard lock(m_);
            jobs_.emplace_back(std::move(job), std::move(reply));
            ++handedOn_;
            cv_.notify_all();
        });
        QString why;
        ASSERT_EQ(door_->Start(why), THttpStart::Running) << why.toStdString();
        ASSERT_NE(door_->Port(), 0);
        ASSERT_EQ(plat::ReadFileBytes(cfg_.tokenFile, token_), 0);
        token_.resize(64);
    }

    // The next job handed on, waited for at most timeoutMs.
    bool NextJob(THttpJob& job, TReply& reply, int timeoutMs = 10000)
    {
        std::unique_lock lock(m_);
        if (!cv_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [&] { return !jobs_.empty(); })) return false;
        job = std::move(jobs_.front().first);
        reply = std::move(jobs_.front().second);
        jobs_.pop_front();
        return true;
    }
    int HandedOn()
    {
        std::lock_guard lock(m_);
        return handedOn_;
    }

    uint16_t Port() const { return door_->Port(); }
    TRawReply Put(const std::string& path, const std::string& body, const std::string& extra = std::string())
    {
        return RawExchange(Port(), RawRequest("PUT", path, token_, body, extra));
    }
    TRawReply Get(const std::string& path) { return RawExchange(Port(), RawRequest("GET", path, token_)); }

    static QByteArray Result(const QString& id, uint64_t ta)
    {
        THttpResult r;
        r.id = id;
        r.finished = true;
        r.kasid = "Kasse01";
        r.bonid = "1";
        r.sigtext = "Beleg^1.00_0.00_0.00_0.00_0.00^1.00:Bar";
        r.start = "2026-12-10T09:15:02.000Z";
        r.end = "2026-12-10T09:15:03.000Z";
        r.transactionNumber = ta;
        r.signatureCounter = ta * 2;
        r.signature = "MEUCIQ";
        r.result = "OK";
        return ResultJson(r);
    }

    QTemporaryDir dir_;
    THttpConfig cfg_;
    std::unique_ptr<THttpServer> door_;
    std::string token_;
    std::mutex m_;
    std::condition_variable cv_;
    std::deque<std::pair<THttpJob, TReply>> jobs_;
    int handedOn_ = 0;
    QStringList logLines_;
};

inline const std::string kReceipt = R"({"kasid":"Kasse01","bonid":"1","sigtext":"Beleg^1.00_0.00_0.00_0.00_0.00^1.00:Bar"})";
