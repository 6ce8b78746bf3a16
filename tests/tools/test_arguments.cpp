#include "vok-tse-client/ClientOptions.h"

#include <QByteArrayList>

#include <gtest/gtest.h>

using namespace vokclient;

namespace {

ParseResult Parse(std::initializer_list<const char*> args)
{
    std::vector<QByteArray> v;
    for (const char* a : args) v.emplace_back(a);
    return ParseArguments(v);
}

}  // namespace

TEST(ClientArguments, GeneralOptionsBeforeOrAfterTheCommand)
{
    const auto r = Parse({"--dir", "/x/TSE", "--name=Kasse01", "--timeout", "2.5", "--keep", "--json",
                          "bon", "--kasid", "K1", "--bonid", "17", "--sigtext", "Beleg^1", "--qr",
                          "--encoding", "cp1252"});
    ASSERT_TRUE(r.ok()) << r.error.toStdString();
    const Options& o = r.options;
    EXPECT_EQ(o.dir, "/x/TSE");
    EXPECT_EQ(o.name, "Kasse01");
    EXPECT_DOUBLE_EQ(o.timeoutSeconds, 2.5);
    EXPECT_TRUE(o.keep && o.json && o.qr);
    EXPECT_EQ(o.encoding, TextEncoding::Cp1252);
    EXPECT_EQ(o.command, Command::Bon);
    EXPECT_EQ(o.kasid, "K1");
    EXPECT_EQ(o.bonid.value_or("-"), "17");
    EXPECT_EQ(o.sigtext.value_or("-"), "Beleg^1");
}

TEST(ClientArguments, DefaultsAndRawValues)
{
    const auto r = Parse({"text", "--kasid", " K 1 ", "--sigtext", "", "--dir=TSE2"});
    ASSERT_TRUE(r.ok()) << r.error.toStdString();
    EXPECT_EQ(r.options.dir, "TSE2");
    EXPECT_TRUE(r.options.name.isEmpty());
    EXPECT_DOUBLE_EQ(r.options.timeoutSeconds, 30.0);
    EXPECT_FALSE(r.options.keep || r.options.json);
    EXPECT_EQ(r.options.encoding, TextEncoding::Bytes);
    EXPECT_EQ(r.options.kasid, " K 1 ");  // blanks count: the service does not trim
    ASSERT_TRUE(r.options.sigtext.has_value());
    EXPECT_TRUE(r.options.sigtext->isEmpty());  // empty process data is a valid job
    // A value that looks like an option is taken as the value.
    const auto dash = Parse({"text", "--kasid", "K", "--sigtext", "--json"});
    ASSERT_TRUE(dash.ok());
    EXPECT_EQ(dash.options.sigtext.value_or(""), "--json");
    EXPECT_FALSE(dash.options.json);
}

TEST(ClientArguments, ExportNumbers)
{
    const auto r = Parse({"export", "--kasid", "K", "--von", "0", "--bis", "2147483647"});
    ASSERT_TRUE(r.ok()) << r.error.toStdString();
    EXPECT_EQ(r.options.von.value_or(""), "0");
    EXPECT_EQ(r.options.bis.value_or(""), "2147483647");
    EXPECT_FALSE(Parse({"export", "--kasid", "K"}).options.von.has_value());
    for (const char* bad : {"-1", "2147483648", "1e3", "", " 5", "12a"})
        EXPECT_FALSE(Parse({"export", "--kasid", "K", "--von", bad}).ok()) << bad;
}

TEST(ClientArguments, UsageErrors)
{
    const std::vector<std::vector<const char*>> bad = {
        {},                                                   // no command
        {"bon", "--sigtext", "x"},                            // no client id
        {"bon", "--kasid", "", "--sigtext", "x"},             // empty client id
        {"bon", "--kasid", "K"},                              // nothing to sign
        {"text", "--kasid", "K", "--sigtext", "x", "--qr"},   // --qr only with bon
        {"text", "--kasid", "K", "--sigtext", "x", "--bonid", "1"},
        {"status", "--kasid", "K", "--sigtext", "x"},
        {"status", "--kasid", "K", "--von", "1"},
        {"status", "--kasid", "K", "status"},                 // second command
        {"sign", "--kasid", "K"},                             // unknown command
        {"status", "--kasid", "K", "--verbose"},              // unknown option
        {"status", "--kasid"},                                // value missing
        {"status", "--kasid", "K", "--timeout", "0"},
        {"status", "--kasid", "K", "--timeout", "soon"},
        {"status", "--kasid", "K", "--encoding", "latin9"},
        {"status", "--kasid", "K", "--name", "a/b"},
        {"status", "--kasid", "K", "--name", ".hidden"},      // the client's temporary names
        {"status", "--kasid", "K", "--name", ""},
    };
    for (const auto& args : bad) {
        std::vector<QByteArray> v(args.begin(), args.end());
        const auto r = ParseArguments(v);
        EXPECT_FALSE(r.ok()) << QByteArrayList(v.begin(), v.end()).join(' ').toStdString();
        EXPECT_FALSE(r.error.contains('\n'));
    }
}

TEST(ClientArguments, HelpWinsAndDefaultNameIsUsable)
{
    EXPECT_TRUE(Parse({"bon", "--help"}).options.help);
    const QString n = DefaultJobName();
    EXPECT_FALSE(n.isEmpty());
    EXPECT_FALSE(n.contains('/') || n.startsWith('.') || n.contains('.'));
}
