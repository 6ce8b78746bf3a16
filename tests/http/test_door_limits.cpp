// The door's own limits: idle connections closed, no more connections at
// once than allowed, and no door at all without a port or with a token others can read.
#include "DoorFixture.h"

#include <sys/stat.h>
#include <vector>

TEST_F(DoorTest, AnIdleConnectionIsClosed)
{
    cfg_.idleTimeoutS = 1;
    StartDoor();
    TRawConnection idle(Port());
    ASSERT_TRUE(idle.Send("GET /v1/hea"));  // a request that never ends
    EXPECT_TRUE(idle.WaitClosed(30000));
    // A kept-alive connection after its answer as well.
    TRawConnection kept(Port());
    ASSERT_TRUE(kept.Send(RawRequest("GET", "/v1/openapi.json", "")));
    EXPECT_EQ(kept.Read().status, 200);
    EXPECT_TRUE(kept.WaitClosed(30000));
}

TEST_F(DoorTest, ConnectionsBeyondTheLimitWaitUntilOneIsFree)
{
    StartDoor();
    ASSERT_EQ(cfg_.maxConnections, 256);
    std::vector<std::unique_ptr<TRawConnection>> held;
    for (int i = 0; i < cfg_.maxConnections; ++i) {
        held.push_back(std::make_unique<TRawConnection>(Port()));
        ASSERT_TRUE(held.back()->Send("GET /v1/health HTTP/1.1\r\n"));  // headers not yet ended
    }
    // The last of them is taken once the door has taken all before it.
    ASSERT_TRUE(held.back()->Send("Host: localhost\r\n\r\n"));
    THttpJob job;
    TReply reply;
    ASSERT_TRUE(NextJob(job, reply));
    reply.Answer(200, {}, "{}");
    EXPECT_EQ(held.back()->Read().status, 200);

    // One more is not taken: it waits in the system's queue, costing the
    // door nothing, and is answered once a connection is free.
    TRawConnection extra(Port());
    ASSERT_TRUE(extra.Send(RawRequest("GET", "/v1/openapi.json", "")));
    EXPECT_EQ(extra.Read(1000).status, 0);
    held.front()->Close();
    EXPECT_EQ(extra.Read().status, 200);
}

TEST_F(DoorTest, TheDoorStaysShutWithoutPortOrWithAReadableToken)
{
    cfg_.anyPort = false;
    cfg_.port = 0;
    THttpServer off(cfg_, {});
    QString why;
    EXPECT_EQ(off.Start(why), THttpStart::Off);
    EXPECT_FALSE(off.IsRunning());

    cfg_.anyPort = true;
    THttpServer first(cfg_, {});
    ASSERT_EQ(first.Start(why), THttpStart::Running);
    first.Stop();
    ASSERT_EQ(::chmod(cfg_.tokenFile.toLocal8Bit().constData(), 0644), 0);
    THttpServer shut(cfg_, {});
    EXPECT_EQ(shut.Start(why), THttpStart::Closed);
    EXPECT_FALSE(shut.IsRunning());
    EXPECT_TRUE(why.contains("Vok_TSE.token"));
}
