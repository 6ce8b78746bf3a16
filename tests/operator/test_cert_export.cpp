// Certificate export: Cer.TAR as the TSE delivers it, Cer.txt with the
// certificate members' names, and the refusals.
#include "core/TseUsers.h"
#include "operator/Operator.h"
#include "support/AppFixture.h"
#include "tse/TseLib.h"
#include "tse/TseLib_C_Dekl.h"

#include <QProcess>
#include <cstdlib>
#include <cstring>
#include <dlfcn.h>
#include <optional>

using namespace testenv;

// The library's certificate export, seen through this program: the tests
// learn the exact bytes the TSE handed out, or hand out an archive of their
// own to reach member names that the software TSE never makes.
namespace {
std::optional<QByteArray> g_cannedArchive;
QByteArray g_handedOut;
}  // namespace

extern "C" se_result_t se_exportCertificates(uint8_t** certificates, uint32_t* certificatesLength)
{
    if (g_cannedArchive) {
        // Released by the library's se_free, which is free().
        auto* buffer = static_cast<uint8_t*>(std::malloc(std::max<size_t>(g_cannedArchive->size(), 1)));
        std::memcpy(buffer, g_cannedArchive->constData(), g_cannedArchive->size());
        *certificates = buffer;
        *certificatesLength = static_cast<uint32_t>(g_cannedArchive->size());
        return ExecutionOk;
    }
    using Export = se_result_t (*)(uint8_t**, uint32_t*);
    static const auto library = reinterpret_cast<Export>(dlsym(RTLD_NEXT, "se_exportCertificates"));
    const se_result_t rc = library(certificates, certificatesLength);
    if (rc == ExecutionOk)
        g_handedOut = QByteArray(reinterpret_cast<const char*>(*certificates), int(*certificatesLength));
    return rc;
}

namespace {


// A header block whose name field holds name; a data block follows.
QByteArray Member(const QByteArray& name)
{
    QByteArray header(512, '\0');
    header.replace(0, name.size(), name);
    header.replace(100, 7, "0000644");
    header.replace(257, 5, "ustar");
    QByteArray data(512, '\0');
    data.replace(0, 10, "0123456789");
    return header + data;
}

class CertExportTest : public AppFixture {
protected:
    void SetUp() override
    {
        AppFixture::SetUp();
        g_cannedArchive.reset();
        g_handedOut.clear();
        PlugTse();
        WriteIni();
        ASSERT_TRUE(StartAndWaitRunning());
        dialogs.asked.clear();
        dialogs.beeps = 0;
    }
    void TearDown() override
    {
        g_cannedArchive.reset();
        AppFixture::TearDown();
    }

    QString TarPath() const { return ExpDir() + "/Cer.TAR"; }
    QString TxtPath() const { return ExpDir() + "/Cer.txt"; }
    QStringList TxtLines() const
    {
        QStringList lines = QString::fromLatin1(ReadFile(TxtPath())).split("\r\n");
        if (lines.last().isEmpty()) lines.removeLast();
        return lines;
    }
};

TEST_F(CertExportTest, SavesTheArchiveAndListsItsCertificatesInOrder)
{
    EXPECT_EQ(ExpCert(core()), 0);

    ASSERT_FALSE(g_handedOut.isEmpty());
    EXPECT_EQ(ReadFile(TarPath()), g_handedOut);

    QProcess tar;
    tar.start("tar", {"-tf", TarPath()});
    ASSERT_TRUE(tar.waitForFinished(10000));
    const QStringList members =
        QString::fromLocal8Bit(tar.readAllStandardOutput()).split('\n', Qt::SkipEmptyParts).filter("_X509.cer");
    ASSERT_EQ(members.size(), 3);
    EXPECT_EQ(TxtLines(), members);
    EXPECT_TRUE(ReadFile(TxtPath()).endsWith("_X509.cer\r\n"));
}

TEST_F(CertExportTest, OnlyCertificateMembersAreListedInPrintableForm)
{
    g_cannedArchive = Member("info.csv") + Member("Root CA_X509.cer") + Member("Zert\xE4_X509.cer") +
                      Member("Sub_X509.cer.bak") + QByteArray(1024, '\0');

    EXPECT_EQ(ExpCert(core()), 0);

    EXPECT_EQ(ReadFile(TarPath()), *g_cannedArchive);
    EXPECT_EQ(TxtLines(), (QStringList{"Root.CA_X509.cer", "Zert._X509.cer", "Sub_X509.cer"}));
}

TEST_F(CertExportTest, MissingExportDirectoryIsLoggedWithoutBox)
{
    ASSERT_TRUE(QDir(ExpDir()).removeRecursively());

    EXPECT_NE(ExpCert(core()), 0);

    EXPECT_TRUE(LogText().contains(QString("  Datei Cer.TAR konnten nicht angelegt werden (Err #%1)\r\n").arg(ENOENT)));
    EXPECT_FALSE(QFile::exists(TxtPath()));
    EXPECT_TRUE(dialogs.asked.isEmpty());
    EXPECT_EQ(dialogs.beeps, 0);
}

TEST_F(CertExportTest, RefusedExportKeepsTheEarlierFilesAndFails)
{
    WriteFile(TarPath(), "earlier archive");
    WriteFile(TxtPath(), "earlier_X509.cer\r\n");
    WriteTseFaults("se_exportCertificates = 0x3011\n");

    EXPECT_EQ(ExpCert(core()), 0x3011);
    EXPECT_EQ(ExpCert(core()), 0x3011);

    EXPECT_EQ(LogText().count("  Export der Zertifikate nicht möglich (3011h)\r\n"), 2);
    EXPECT_EQ(ReadFile(TarPath()), "earlier archive");
    EXPECT_EQ(ReadFile(TxtPath()), "earlier_X509.cer\r\n");
    EXPECT_TRUE(dialogs.asked.isEmpty());
    EXPECT_EQ(dialogs.beeps, 0);
}

}  // namespace
