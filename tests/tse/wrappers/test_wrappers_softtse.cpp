// The wrappers against the software TSE: one whole life of a new TSE, with
// what the wrappers make of its answers checked against each other.
#include "platform/DateTime.h"
#include "tse/TseLib.h"
#include "tse/TseLib_C_Dekl.h"

#include <QDate>
#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

const char* const AdminPin = "RubXen58";

// The wall-clock time the TSE's clock is set from: 10:00 of the day the test
// runs. The software TSE's certificate is valid from a day before its
// making, so a fixed date would stop working a day after it.
const QDate Today = QDate::currentDate();

bool IsTar(const QByteArray& bytes)
{
    return bytes.size() >= 512 && bytes.mid(257, 5) == "ustar";
}

QByteArray FromHex(const std::string& hex)
{
    return QByteArray::fromHex(QByteArray::fromStdString(hex));
}

bool Matches(const std::string& text, const char* pattern)
{
    return QRegularExpression(QRegularExpression::anchoredPattern(pattern)).match(QString::fromStdString(text)).hasMatch();
}

// A new TSE on a drive of its own, opened; the test's program directory is
// a second temporary directory.
class SoftTse : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(drive_.isValid() && progDir_.isValid());
        QFile marker(drive_.filePath("TSE-IO.bin"));
        ASSERT_TRUE(marker.open(QIODevice::WriteOnly));
        marker.close();
        oldCwd_ = QDir::currentPath();
        QDir::setCurrent(progDir_.path());
        // The TSE clock is set from this wall-clock time.
        plat::SetNowOverride([] { return plat::EncodeDateTime(Today.year(), Today.month(), Today.day(), 10, 0, 0); });

        TseRes = 0;
        tse_openDirect(drive_.path().toStdString(), 5000);
        if (TseRes == ErrorFunctionNotSupported) GTEST_SKIP() << "the software TSE is not built yet";
        ASSERT_EQ(TseRes, 0) << ErgStr();
    }
    void TearDown() override
    {
        tse_close();
        plat::SetNowOverride({});
        QDir::setCurrent(oldCwd_);
    }

    void SetFault(const std::string& line)
    {
        QDir(drive_.path()).mkpath(".softtse");
        QFile f(drive_.filePath(".softtse/faults"));
        ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
        f.write(QByteArray::fromStdString(line + "\n"));
    }

    void InitialiseAsAdmin()
    {
        tse_initializePinValues(AdminPin, "RUBXnPk58!", "RubTol58", "RUBToLPkq!");
        ASSERT_EQ(TseRes, 0) << ErgStr();
        int32_t authResult = -1;
        int16_t retries = -1;
        tse_authenticateUser("Admin", AdminPin, authResult, retries);
        ASSERT_EQ(TseRes, 0) << ErgStr();
        tse_initialize();
        ASSERT_EQ(TseRes, 0) << ErgStr();
        tse_updateTime();
        ASSERT_EQ(TseRes, 0) << ErgStr();
    }

    QTemporaryDir drive_;
    QTemporaryDir progDir_;
    QString oldCwd_;
};

}  // namespace

TEST_F(SoftTse, WholeLifeOfANewTse)
{
    // A new TSE has no serial numbers to give yet.
    EXPECT_EQ(tse_exportSerialNumbers(), "");
    EXPECT_EQ(TseRes, ErrorSeApiNotInitialized);
    EXPECT_EQ(tse_getLifeCycleState(), "nicht initialisiert");

    InitialiseAsAdmin();
    EXPECT_EQ(tse_getLifeCycleState(), "aktiv");

    std::string serials = tse_exportSerialNumbers();
    ASSERT_EQ(TseRes, 0) << ErgStr();
    TseSN = serials.substr(0, serials.find('|'));
    ASSERT_TRUE(Matches(TseSN, "([0-9A-F]{2})+")) << TseSN;

    EXPECT_FALSE(tse_getUniqueId().empty());
    EXPECT_EQ(TseRes, 0);
    EXPECT_FALSE(tse_getApiVersionString().empty());
    EXPECT_FALSE(tse_getCertificationId().empty());
    EXPECT_GT(tse_getTimeSyncInterval(), 0u);
    EXPECT_FALSE(tse_getTimeSyncVariant().empty());
    EXPECT_TRUE(Matches(tse_getCertificateExpirationDate(TseSN), "\\d\\d\\.\\d\\d\\.\\d\\d \\d\\d:\\d\\d:\\d\\d"));
    EXPECT_TRUE(Matches(tse_exportPublicKey(TseSN), "([0-9A-F]{2})+"));
    EXPECT_EQ(TseRes, 0);
    const std::string algorithm = tse_getSignatureAlgorithm();
    EXPECT_TRUE(algorithm.rfind("ecdsa-", 0) == 0) << algorithm;
    EXPECT_GT(tse_getMaxNumberOfClients(), 0u);
    EXPECT_GT(tse_getMaxNumberOfTransactions(), 0u);
    EXPECT_GT(tse_getTotalLogMemory(), 0u);
    const uint64_t freeBefore = tse_getAvailableLogMemory();
    EXPECT_GT(freeBefore, 0u);

    // A client that the TSE does not know cannot sign.
    TTransResult start;
    tse_startTransaction("Kasse 1", "Beleg", "Kassenbeleg-V1", "", start);
    EXPECT_EQ(TseRes, ErrorNoERS);

    const uint32_t clientsBefore = tse_getCurrentNumberOfClients();
    tse_mapERStoKey("Kasse 1", TseSN);
    ASSERT_EQ(TseRes, 0) << ErgStr();
    EXPECT_EQ(tse_getCurrentNumberOfClients(), clientsBefore + 1);
    EXPECT_NE(tse_getERSMappings().find("4B617373652031"), std::string::npos);  // "Kasse 1"

    const uint32_t counterBefore = tse_getTransactionCounter();
    tse_startTransaction("Kasse 1", "Beleg^1,00", "Kassenbeleg-V1", "", start);
    ASSERT_EQ(TseRes, 0) << ErgStr();
    EXPECT_EQ(start.transactionNumber, counterBefore + 1);
    EXPECT_EQ(tse_getTransactionCounter(), start.transactionNumber);
    EXPECT_EQ(start.serialNumber, TseSN);
    EXPECT_FALSE(start.signatureValue.empty());
    const std::string day = Today.toString(Qt::ISODate).toStdString();
    EXPECT_TRUE(Matches(start.logTime, (day + "T10:\\d\\d:\\d\\d\\.000Z").c_str())) << start.logTime;
    EXPECT_EQ(tse_getCurrentNumberOfTransactions(), 1u);
    EXPECT_EQ(tse_getOpenTransactions(), std::to_string(start.transactionNumber) + " ");

    TTransResult finish;
    finish.transactionNumber = start.transactionNumber;
    tse_finishTransaction("Kasse 1", start.transactionNumber, "Beleg^1,00", "Kassenbeleg-V1", "", finish);
    ASSERT_EQ(TseRes, 0) << ErgStr();
    EXPECT_EQ(finish.transactionNumber, start.transactionNumber);
    EXPECT_EQ(finish.signatureCounter, start.signatureCounter + 1);
    EXPECT_EQ(tse_getSignatureCounter(TseSN), finish.signatureCounter);
    EXPECT_EQ(finish.serialNumber, TseSN);
    EXPECT_NE(finish.signatureValue, start.signatureValue);
    EXPECT_EQ(tse_getOpenTransactions(), "");
    EXPECT_EQ(tse_getCurrentNumberOfTransactions(), 0u);
    EXPECT_LT(tse_getAvailableLogMemory(), freeBefore);

    const QString exportFile = progDir_.filePath("EXP_1-" + QString::number(finish.transactionNumber) + ".TAR");
    tse_exportDataToFile("", 0, 0, 0, 0, exportFile.toStdString());
    ASSERT_EQ(TseRes, 0) << ErgStr();
    QFile exported(exportFile);
    ASSERT_TRUE(exported.open(QIODevice::ReadOnly));
    EXPECT_TRUE(IsTar(exported.readAll()));

    const std::string certificates = tse_exportCertificates();
    ASSERT_EQ(TseRes, 0) << ErgStr();
    EXPECT_TRUE(IsTar(FromHex(certificates)));

    tse_logOut("Admin");
    EXPECT_EQ(TseRes, 0) << ErgStr();
}

TEST_F(SoftTse, LibraryFailuresAndValuesReachTheCaller)
{
    InitialiseAsAdmin();
    const std::string serials = tse_exportSerialNumbers();
    const std::string sn = serials.substr(0, serials.find('|'));
    tse_mapERStoKey("K2", sn);
    TTransResult r;
    tse_startTransaction("K2", "x", "SonstigerVorgang", "", r);
    ASSERT_EQ(TseRes, 0) << ErgStr();

    SetFault("se_finishTransaction = 0x3009");
    TTransResult finish;
    finish.transactionNumber = r.transactionNumber;
    tse_finishTransaction("K2", r.transactionNumber, "x", "SonstigerVorgang", "", finish);
    EXPECT_EQ(ErgStr(), "3009h");
    EXPECT_EQ(finish.signatureValue + finish.logTime, "");
    EXPECT_EQ(finish.transactionNumber, r.transactionNumber);

    SetFault("se_getMaxNumberOfClients value 7");
    EXPECT_EQ(tse_getMaxNumberOfClients(), 7u);
    tse_logOut("Admin");
}
