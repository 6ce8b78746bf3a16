// The unit sets MemoryDenyWriteExecute=yes: the program, Qt and the TSE's
// library must do all their work without memory that is writable and
// executable at once. The kernel's own switch for it (PR_SET_MDWE, Linux 6.3)
// holds this test process and so the service it starts.
#include "ServiceHarness.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <sys/prctl.h>

#ifndef PR_SET_MDWE
#define PR_SET_MDWE 65
#endif
#ifndef PR_MDWE_REFUSE_EXEC_GAIN
#define PR_MDWE_REFUSE_EXEC_GAIN 1
#endif

TEST(WriteXorExecute, TheServiceSignsExportsAndEndsWithoutWritableCode)
{
    if (::prctl(PR_SET_MDWE, PR_MDWE_REFUSE_EXEC_GAIN, 0L, 0L, 0L) != 0)
        GTEST_SKIP() << "the kernel has no PR_SET_MDWE: " << std::strerror(errno);

    e2e::Service svc;
    QString why;
    ASSERT_TRUE(svc.Start(&why)) << why.toStdString();
    const e2e::ClientResult bon = svc.Client({"bon", "--kasid", "Kasse01", "--bonid", "1", "--sigtext", "Beleg^1.00:Bar"});
    EXPECT_EQ(bon.exitCode, 0) << bon.err.toStdString();
    const e2e::ClientResult exp = svc.Client({"export", "--kasid", "Kasse01"});
    EXPECT_EQ(exp.exitCode, 0) << exp.err.toStdString();
    EXPECT_EQ(svc.Client({"status", "--kasid", "Kasse01"}).exitCode, 0);
    EXPECT_EQ(svc.Terminate(), 0);
}
