// The receiver behind nginx terminating TLS, configured as the README shows
// it, with a certificate authority made for the run (scripts/crash-tls-fixture.sh);
// Debian's curl plays the player.
#include <gtest/gtest.h>

#include <cstdlib>
#include <sstream>
#include <string>
#include <utility>

#include "tools/crashreceiver/test/RQReceiverFixture.h"

namespace {

// Stops the fixture's nginx however the test ends.
class TlsFixture {
public:
    explicit TlsFixture(std::string strState) : m_strState(std::move(strState)) {}
    ~TlsFixture() { std::system((std::string(RQ_CRASH_TLS_FIXTURE) + " stop " + m_strState).c_str()); }
    bool Start(uint16_t nReceiverPort) {
        std::string strCommand =
            std::string(RQ_CRASH_TLS_FIXTURE) + " start " + m_strState + " " + std::to_string(nReceiverPort);
        return std::system(strCommand.c_str()) == 0;
    }

private:
    std::string m_strState;
};

std::string FirstLine(const std::string& strText) {
    return strText.substr(0, strText.find('\n'));
}

}  // namespace

TEST_F(ReceiverTest, TakesReportsThroughNginxTerminatingTls) {
    CRQServerOptions options;
    options.strProxyAddress = "127.0.0.1";
    Start(TestLimits(100), UnlimitedStore(), options);
    std::string strState = (m_temp.Path() / "tls").string();
    TlsFixture tls(strState);
    ASSERT_TRUE(tls.Start(m_pServer->Port()));

    // From another loopback address, which nginx names to the receiver.
    CurlResult sent = Curl("-4 --interface 127.0.0.5 --cacert " + strState +
                               "/pki/ca.pem -F upload_file_minidump=@crash.dmp -F prod=PXPatcher",
                           FirstLine(Slurp(strState + "/url")));
    ASSERT_EQ(sent.nStatus, 200) << sent.strBody;
    std::string strIndex = Slurp(m_temp.Path() / "store" / FirstLine(sent.strBody) / "index.txt");
    EXPECT_NE(strIndex.find("client: 127.0.0.5\n"), std::string::npos) << strIndex;

    // Only the proxy is believed: a player cannot name another address.
    CurlResult direct =
        Curl("--interface 127.0.0.6 -H 'X-Real-IP: 10.1.2.3' -F upload_file_minidump=@crash.dmp");
    ASSERT_EQ(direct.nStatus, 200) << direct.strBody;
    strIndex = Slurp(m_temp.Path() / "store" / FirstLine(direct.strBody) / "index.txt");
    EXPECT_NE(strIndex.find("client: 127.0.0.6\n"), std::string::npos) << strIndex;
}

// The configuration the test above runs is the one the README shows.
TEST(ReceiverReadme, ShowsTheNginxConfigurationThatIsTested) {
    std::string strReadme = Slurp(RQ_SOURCE_DIR "/README.md");
    std::istringstream conf(Slurp(RQ_SOURCE_DIR "/tools/crashreceiver/nginx-crash-reports.conf"));
    std::string strShown;
    for (std::string strLine; std::getline(conf, strLine);) {
        strShown += strLine.empty() ? "\n" : "    " + strLine + "\n";
    }
    ASSERT_GT(strShown.size(), 200u);
    EXPECT_NE(strReadme.find(strShown), std::string::npos) << "README.md should show, indented:\n"
                                                           << strShown;
}
