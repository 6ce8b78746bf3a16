// The kept answers: durable across a reopen (a kill), dropped after 48 h,
// bounded in number.
#include "http/IdempotencyStore.h"
#include "platform/Files.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

class StoreTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(dir_.isValid()); }
    std::unique_ptr<TIdempotencyStore> Open(TIdempotencyLimits limits = {})
    {
        auto s = std::make_unique<TIdempotencyStore>(limits, [this] { return now_; });
        EXPECT_EQ(s->Open(path_), 0);
        return s;
    }
    QTemporaryDir dir_;
    QString path_ = dir_.filePath("Vok_TSE.http");
    int64_t now_ = 1765350000;
};

}  // namespace

TEST_F(StoreTest, WhatWasKeptIsThereAfterAReopenByteForByte)
{
    const std::string answer = "{\"id\":\"a\",\"sigtext\":\"Beleg 100% #1 =\\n\"}\r\n\xe4";
    {
        auto s = Open();
        ASSERT_EQ(s->Begin("a", 'R', "sha-a"), 0);
        ASSERT_EQ(s->Answer("a", 200, answer), 0);
        ASSERT_EQ(s->Begin("b", 'O', "sha-b"), 0);
        ASSERT_EQ(s->Begin("c", 'R', "sha-c"), 0);
        ASSERT_EQ(s->Forget("c"), 0);
        EXPECT_EQ(s->Begin("a", 'R', "sha-a"), EEXIST);
    }
    // A record torn by the end of the process.
    std::string bytes;
    ASSERT_EQ(plat::ReadFileBytes(path_, bytes), 0);
    ASSERT_EQ(plat::WriteFileBytes(path_, bytes + "A id=b status=200 t=1 body=x"), 0);
    auto s = Open();
    const TIdempotencyEntry* a = s->Find("a");
    ASSERT_NE(a, nullptr);
    EXPECT_TRUE(a->answered);
    EXPECT_EQ(a->status, 200);
    EXPECT_EQ(a->answer, answer);
    EXPECT_EQ(a->sha256, "sha-a");
    EXPECT_EQ(a->kind, 'R');
    const TIdempotencyEntry* b = s->Find("b");
    ASSERT_NE(b, nullptr);
    EXPECT_FALSE(b->answered);
    EXPECT_EQ(s->Find("c"), nullptr);
    // The file written anew at the open takes records again.
    ASSERT_EQ(s->Answer("b", 200, "late"), 0);
    s.reset();
    auto again = Open();
    ASSERT_NE(again->Find("b"), nullptr);
    EXPECT_EQ(again->Find("b")->answer, "late");
}

TEST_F(StoreTest, ADamagedRecordIsSkippedAndTheRestKept)
{
    {
        auto s = Open();
        ASSERT_EQ(s->Begin("x", 'R', "1"), 0);
        ASSERT_EQ(s->Begin("y", 'R', "2"), 0);
    }
    std::string bytes;
    ASSERT_EQ(plat::ReadFileBytes(path_, bytes), 0);
    bytes[bytes.find("id=x") + 3] = 'z';  // the CRC no longer fits
    ASSERT_EQ(plat::WriteFileBytes(path_, bytes), 0);
    auto s = Open();
    EXPECT_EQ(s->Find("x"), nullptr);
    EXPECT_EQ(s->Find("z"), nullptr);
    EXPECT_NE(s->Find("y"), nullptr);
}

TEST_F(StoreTest, AnAnswerIsKept48HoursAndThenDropped)
{
    auto s = Open();
    ASSERT_EQ(s->Begin("old", 'R', "1"), 0);
    now_ += 60;
    ASSERT_EQ(s->Answer("old", 200, "answer"), 0);  // the 48 hours run from the answer
    now_ += 48 * 3600;
    EXPECT_NE(s->Find("old"), nullptr);
    s.reset();
    s = Open();
    EXPECT_NE(s->Find("old"), nullptr);
    now_ += 1;
    EXPECT_EQ(s->Find("old"), nullptr);
    EXPECT_EQ(s->Begin("old", 'O', "2"), 0);  // the id is free again
    ASSERT_EQ(s->Begin("other", 'O', "3"), 0);
    now_ += 48 * 3600 + 1;
    s.reset();
    s = Open();
    EXPECT_EQ(s->Size(), 0u);  // dropped at the open, not written anew
}

TEST_F(StoreTest, AFullStoreTakesNoNewIdUntilOneExpires)
{
    TIdempotencyLimits limits;
    limits.maxEntries = 3;
    limits.maxAnswerBytes = 10;
    auto s = Open(limits);
    ASSERT_EQ(s->Begin("1", 'R', "a"), 0);
    now_ += 3600;
    ASSERT_EQ(s->Begin("2", 'R', "a"), 0);
    ASSERT_EQ(s->Begin("3", 'R', "a"), 0);
    EXPECT_EQ(s->Begin("4", 'R', "a"), ENOSPC);
    EXPECT_EQ(s->Answer("2", 200, std::string(11, 'x')), EFBIG);
    EXPECT_FALSE(s->Find("2")->answered);
    now_ += 47 * 3600 + 1;  // the first is 48 h and a second old
    EXPECT_EQ(s->Begin("4", 'R', "a"), 0);
    EXPECT_EQ(s->Size(), 3u);
}

TEST_F(StoreTest, TheFileIsCompactedAsItGrows)
{
    TIdempotencyLimits limits;
    limits.compactAbove = 4096;
    auto s = Open(limits);
    for (int i = 0; i < 200; ++i) {
        const std::string id = "id" + std::to_string(i);
        ASSERT_EQ(s->Begin(id, 'R', "sha"), 0);
        ASSERT_EQ(s->Forget(id), 0);
    }
    ASSERT_EQ(s->Begin("stays", 'R', "sha"), 0);
    ASSERT_EQ(s->Answer("stays", 200, "kept"), 0);
    s.reset();
    std::string bytes;
    ASSERT_EQ(plat::ReadFileBytes(path_, bytes), 0);
    EXPECT_LT(bytes.size(), 4096u + 200u);
    EXPECT_EQ(Open(limits)->Find("stays")->answer, "kept");
}
