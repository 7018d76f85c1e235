// The spool folder and the agent's state folder.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "support/native_platform.h"
#include "support/temp_folder.h"
#include "ui/console/agent_state.h"
#include "ui/console/gzip_body.h"
#include "ui/console/spool.h"

namespace veltrix {
namespace {

namespace fs = std::filesystem;
using std::chrono::system_clock;

system_clock::time_point at(std::int64_t seconds, std::int64_t micros = 0) {
    return system_clock::time_point(std::chrono::seconds(seconds) + std::chrono::microseconds(micros));
}

void writeFile(const fs::path& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

TEST(SpoolFileName, SortsByTimeAndNamesItInUtc) {
    EXPECT_EQ(spoolFileName(at(1796793243, 123456), 0xabc), "20261209T051403.123456Z-00000abc.json.gz");
    // Within one second, by microsecond; within one microsecond, by tag.
    EXPECT_LT(spoolFileName(at(1796793243, 9), 0xffffffff), spoolFileName(at(1796793243, 10), 0));
    EXPECT_LT(spoolFileName(at(1796793242, 999999), 5), spoolFileName(at(1796793243, 0), 1));
}

TEST(Spool, ListsOldestFirstAndOnlyWholeScans) {
    test::TempFolder folder;
    test::NativePlatform platform(folder.str());
    Spool spool(folder.str(), platform);
    std::vector<std::string> dropped;
    ASSERT_TRUE(spool.add("second", at(2000), dropped));
    ASSERT_TRUE(spool.add("first", at(1000), dropped));
    // A file being written, a stray file and a folder are not scans.
    writeFile(folder / ".veltrix-Ab12Cd", "partial");
    writeFile(folder / "notes.json.gz", "x");
    fs::create_directory(folder / "20261209T051403.123456Z-00000abc.json.gz");

    auto listed = spool.list();
    ASSERT_TRUE(listed);
    ASSERT_EQ(listed->size(), 2u);
    EXPECT_EQ(*spool.read((*listed)[0]), "first");
    EXPECT_EQ(*spool.read((*listed)[1]), "second");
    EXPECT_TRUE(dropped.empty());
#ifndef _WIN32
    EXPECT_EQ(fs::status((*listed)[0].path).permissions(), fs::perms::owner_read | fs::perms::owner_write);
#endif

    ASSERT_TRUE(spool.remove((*listed)[0]).ok());
    // Removing what another run already removed is no failure.
    EXPECT_TRUE(spool.remove((*listed)[0]).ok());
    EXPECT_EQ(spool.list()->size(), 1u);
}

TEST(Spool, FullDropsTheOldestAndNamesThem) {
    test::TempFolder folder;
    test::NativePlatform platform(folder.str());
    Spool spool(folder.str(), platform, 3);
    std::vector<std::string> dropped;
    for (int i = 1; i <= 3; ++i) ASSERT_TRUE(spool.add("scan " + std::to_string(i), at(1000 * i), dropped));
    EXPECT_TRUE(dropped.empty());
    auto fourth = spool.add("scan 4", at(4000), dropped);
    ASSERT_TRUE(fourth);
    ASSERT_EQ(dropped.size(), 1u);
    EXPECT_EQ(dropped[0].substr(0, 16), spoolFileName(at(1000), 0).substr(0, 16));
    auto listed = spool.list();
    ASSERT_EQ(listed->size(), 3u);
    EXPECT_EQ(*spool.read((*listed)[0]), "scan 2");
    EXPECT_EQ((*listed)[2].name, fourth->name);

    // A spool grown past the bound by an older agent shrinks back in one go.
    Spool smaller(folder.str(), platform, 1);
    dropped.clear();
    ASSERT_TRUE(smaller.add("scan 5", at(5000), dropped));
    EXPECT_EQ(dropped.size(), 3u);
    EXPECT_EQ(*smaller.read((*smaller.list())[0]), "scan 5");
}

TEST(AgentState, RoundTripsPrivately) {
    test::TempFolder root;
    const std::string folder = (root / "state").string();
    test::NativePlatform platform(folder);
    EXPECT_FALSE(*loadAgentState(folder)) << "nothing there yet";
    ASSERT_TRUE(prepareAgentFolder(folder, {}).ok());
    AgentState state{"https://fleet.example:8443", "0f8e6c2a-agent", "k3y", false, true};
    ASSERT_TRUE(saveAgentCertificate(platform, folder, "-----BEGIN CERTIFICATE-----\n").ok());
    ASSERT_TRUE(saveAgentState(platform, folder, state).ok());
    auto loaded = loadAgentState(folder);
    ASSERT_TRUE(loaded && *loaded);
    EXPECT_EQ((*loaded)->server, state.server);
    EXPECT_EQ((*loaded)->agentId, state.agentId);
    EXPECT_EQ((*loaded)->key, state.key);
    EXPECT_FALSE((*loaded)->insecure);
    EXPECT_TRUE((*loaded)->ownCertificateAuthority);
#ifndef _WIN32
    EXPECT_EQ(fs::status(folder).permissions(), fs::perms::owner_all);
    EXPECT_EQ(fs::status(agentSpoolFolder(folder)).permissions(), fs::perms::owner_all);
    EXPECT_EQ(fs::status(agentStateFile(folder)).permissions(), fs::perms::owner_read | fs::perms::owner_write);
    // A folder opened up by hand is closed again.
    fs::permissions(folder, fs::perms::all);
    ASSERT_TRUE(prepareAgentFolder(folder, {}).ok());
    EXPECT_EQ(fs::status(folder).permissions(), fs::perms::owner_all);
#endif
    // The platform's guard runs on both folders.
    std::vector<std::string> guarded;
    ASSERT_TRUE(prepareAgentFolder(folder, [&](const std::string& f) {
                    guarded.push_back(f);
                    return Status{};
                }).ok());
    EXPECT_EQ(guarded, (std::vector<std::string>{folder, agentSpoolFolder(folder)}));
    auto refused = prepareAgentFolder(folder, [](const std::string& f) {
        return Status(Failure{failure_code::kFileError, f + ": no ACL"});
    });
    EXPECT_FALSE(refused.ok());
}

TEST(AgentState, DamagedFilesAreNamedNotGuessed) {
    test::TempFolder folder;
    const std::string path = agentStateFile(folder.str());
    for (const char* text : {"", "not json", "[1,2]", R"({"server":"https://a","agent-id":"x"})",
                             R"({"server":"https://a","agent-id":"x","key":""})",
                             R"({"server":"https://a","agent-id":"x","key":7})"}) {
        writeFile(path, text);
        auto loaded = loadAgentState(folder.str());
        ASSERT_FALSE(loaded) << text;
        EXPECT_NE(loaded.failure().description.find(path), std::string::npos) << loaded.failure().description;
    }
    // A certificate authority the state names must be there.
    writeFile(path, R"({"server":"https://a","agent-id":"x","key":"k","own-certificate-authority":true})");
    auto missing = loadAgentState(folder.str());
    ASSERT_FALSE(missing);
    EXPECT_NE(missing.failure().description.find("ca.pem"), std::string::npos);
}

TEST(AgentState, ServerAddresses) {
    EXPECT_EQ(*normalizeServerUrl("https://fleet.example:8443/", false), "https://fleet.example:8443");
    EXPECT_EQ(*normalizeServerUrl("https://proxy.example/veltrix//", false), "https://proxy.example/veltrix");
    EXPECT_EQ(*normalizeServerUrl("http://127.0.0.1:8080", true), "http://127.0.0.1:8080");
    for (const char* refused : {"http://127.0.0.1:8080", "fleet.example", "ftp://fleet.example", "https://",
                                "https:///path", "https://user@fleet.example", "https://fleet.example/?a=b",
                                "https://fleet example", "https://fleet.example/\n"}) {
        EXPECT_FALSE(normalizeServerUrl(refused, false)) << refused;
    }
}

TEST(GzipBody, RoundTripsAndRefusesBombsAndDamage) {
    std::string text;
    for (int i = 0; i < 20000; ++i) text += "{\"Name\": \"row " + std::to_string(i % 97) + "\"},";
    auto packed = gzipCompress(text);
    ASSERT_TRUE(packed);
    EXPECT_LT(packed->size(), text.size() / 10);
    EXPECT_EQ(static_cast<unsigned char>((*packed)[0]), 0x1f);
    EXPECT_EQ(static_cast<unsigned char>((*packed)[1]), 0x8b);
    EXPECT_EQ(*gzipDecompress(*packed, text.size()), text);
    EXPECT_EQ(*gzipDecompress(*gzipCompress(""), 0), "");

    // Ten megabytes of zeros in a few kilobytes: refused as it inflates.
    auto bomb = gzipCompress(std::string(10 * 1024 * 1024, '\0'));
    ASSERT_TRUE(bomb);
    EXPECT_LT(bomb->size(), 20000u);
    EXPECT_FALSE(gzipDecompress(*bomb, 1024 * 1024));

    EXPECT_FALSE(gzipDecompress(packed->substr(0, packed->size() / 2), text.size())) << "cut short";
    EXPECT_FALSE(gzipDecompress("{\"veltrix-snapshot\": 1}", 1000)) << "not gzip";
    std::string flipped = *packed;
    flipped[flipped.size() - 6] ^= 0x55;  // the CRC
    EXPECT_FALSE(gzipDecompress(flipped, text.size())) << "bad checksum";
}

}  // namespace
}  // namespace veltrix
