// A machine is its hardware: the store recognises it by agent, UUID and
// serial before the typed name, keeps a renamed PC's history, keeps two PCs
// of one name apart, and flags clones instead of merging them.
#include <filesystem>
#include <fstream>
#include <set>

#include "data/load_input.h"
#include "data/report_identity.h"
#include "store_fixture.h"
#include "store/content_digest.h"

namespace veltrix::store::testing {
namespace {

using StoreIdentity = StoreTest;

std::string testData(const std::string& name) { return std::string(VELTRIX_TEST_DATA) + "/" + name; }

std::string readAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

// A report of `name` whose hardware shows `identity`.
data::Report reportOf(const std::string& name, int variant, MachineIdentity identity) {
    data::Report report = makeReport(1, variant);
    report.name = name;
    report.machine = std::move(identity);
    return report;
}

MachineIdentity serialOnly(const std::string& serial) {
    MachineIdentity identity;
    identity.enclosureSerial = serial;
    return identity;
}

struct Added {
    std::int64_t machine;
    std::string matchedBy;
};

Added addOne(InventoryStore& store, const data::Report& report, const AddOptions& options = {}) {
    EXPECT_TRUE(store.beginBatch().ok());
    auto added = store.addScan(report, digestOf(report) + report.name + report.takenAt, "test", options);
    EXPECT_TRUE(added) << added.failure().description;
    EXPECT_TRUE(store.commitBatch().ok());
    return added ? Added{added->machineId, added->matchedBy} : Added{0, ""};
}

// Four inputs of one PC: its snapshot, its report under another name, a
// snapshot showing only the BIOS serial and one showing only the enclosure's.
TEST_P(StoreIdentity, FourInputsOfOnePcAreOneMachine) {
    auto store = openStore();
    ASSERT_TRUE(store);
    const std::string page = readAll(testData("store-v1/pc-0042.htm"));
    struct Input {
        std::string name, bytes;
    };
    const Input inputs[] = {{"office-desktop.json", readAll(std::string(VELTRIX_EXAMPLES) + "/office-desktop.json")},
                            {"pc-0042.htm", page},
                            {"inventory_64bit.json", readAll(testData("inventory_64bit.json"))},
                            {"desktop-two-disks.json", readAll(testData("desktop-two-disks.json"))}};
    std::vector<std::string> matched;
    std::set<std::int64_t> machines;
    ASSERT_TRUE(store->beginBatch().ok());
    for (const auto& input : inputs) {
        auto report = data::LoadInputBytes(input.bytes, input.name, {2026, 12, 9, 8, 0, 0}, EnglishLocale());
        ASSERT_TRUE(report) << report.failure().description;
        auto added = store->addScan(*report, contentDigest(input.bytes), input.name);
        ASSERT_TRUE(added) << added.failure().description;
        matched.push_back(added->matchedBy);
        machines.insert(added->machineId);
    }
    ASSERT_TRUE(store->commitBatch().ok());
    EXPECT_EQ(machines.size(), 1u);
    EXPECT_EQ(matched, (std::vector<std::string>{"new", "serial", "serial", "serial"}));
    EXPECT_EQ(count("SELECT COUNT(*) FROM machines"), 1);
    EXPECT_EQ(count("SELECT COUNT(*) FROM machines WHERE serial = 'NRV-7731-0042'"), 1);
    EXPECT_EQ(count("SELECT COUNT(*) FROM scans"), 4);
}

TEST_P(StoreIdentity, RenamedPcKeepsItsHistoryUnderItsNewestName) {
    auto store = openStore();
    ASSERT_TRUE(store);
    Added first = addOne(*store, reportOf("desk-12", 1, serialOnly("PF2ABCDE")));
    Added renamed = addOne(*store, reportOf("reception-01", 2, serialOnly("pf2abcde ")));
    EXPECT_EQ(first.machine, renamed.machine);
    EXPECT_EQ(renamed.matchedBy, "serial");
    auto name = queryValue(store->connection(), "SELECT name FROM machines");
    ASSERT_TRUE(name && *name);
    EXPECT_EQ(**name, "reception-01");
    // An older scan loaded afterwards does not take the name back.
    addOne(*store, reportOf("desk-12-old", 0, serialOnly("PF2ABCDE")));
    name = queryValue(store->connection(), "SELECT machine FROM latest");
    ASSERT_TRUE(name && *name);
    EXPECT_EQ(**name, "reception-01");
    EXPECT_EQ(count("SELECT COUNT(*) FROM scans WHERE machine_id = " + std::to_string(first.machine)), 3);
}

TEST_P(StoreIdentity, TwoPcsOfOneNameStayTwoAndPlaceholdersIdentifyNothing) {
    auto store = openStore();
    ASSERT_TRUE(store);
    Added a = addOne(*store, reportOf("PC1", 1, serialOnly("SERIAL-A")));
    Added b = addOne(*store, reportOf("PC1", 2, serialOnly("SERIAL-B")));
    EXPECT_NE(a.machine, b.machine);
    EXPECT_EQ(b.matchedBy, "new");
    // Boards that all say "To be filled by O.E.M." are told apart by name only.
    Added c = addOne(*store, reportOf("lab-1", 1, serialOnly("To be filled by O.E.M.")));
    Added d = addOne(*store, reportOf("lab-2", 2, serialOnly("To be filled by O.E.M.")));
    Added e = addOne(*store, reportOf("lab-1", 3, serialOnly("Default string")));
    EXPECT_NE(c.machine, d.machine);
    EXPECT_EQ(c.machine, e.machine);
    EXPECT_EQ(e.matchedBy, "name");
    EXPECT_EQ(count("SELECT COUNT(*) FROM machine_keys WHERE kind = 'serial'"), 2);
}

TEST_P(StoreIdentity, UuidInEitherByteOrderIsOneMachineAndClonesAreFlagged) {
    auto store = openStore();
    ASSERT_TRUE(store);
    MachineIdentity one;
    one.uuid = "4c4c4544-0038-3510-8052-b3c04f4d4a32";
    MachineIdentity swapped;
    swapped.uuid = "44454C4C-3800-1035-8052-B3C04F4D4A32";
    Added first = addOne(*store, reportOf("vm-a", 1, one));
    Added again = addOne(*store, reportOf("vm-a-renamed", 2, swapped));
    EXPECT_EQ(first.machine, again.machine);
    EXPECT_EQ(again.matchedBy, "uuid");

    // Two clones of one virtual machine: one UUID, two serials.
    MachineIdentity cloneA = one, cloneB = one;
    cloneA.enclosureSerial = "VMware-56 4d a1";
    cloneB.enclosureSerial = "VMware-56 4d b2";
    Added a = addOne(*store, reportOf("clone", 3, cloneA));
    Added b = addOne(*store, reportOf("clone", 4, cloneB));
    EXPECT_EQ(a.machine, first.machine);  // the UUID's machine learns its serial
    EXPECT_NE(b.machine, a.machine);
    EXPECT_EQ(count("SELECT COUNT(*) FROM machines WHERE possible_clone = 1"), 2);
    EXPECT_EQ(count("SELECT COUNT(*) FROM machine_flags WHERE machine_id = " + std::to_string(b.machine) +
                    " AND other_machine_id = " + std::to_string(a.machine)),
              1);
    // Each clone's next scan finds its own machine again.
    EXPECT_EQ(addOne(*store, reportOf("clone", 5, cloneB)).machine, b.machine);
    EXPECT_EQ(addOne(*store, reportOf("clone", 6, cloneA)).machine, a.machine);
}

TEST_P(StoreIdentity, AgentIdComesFirst) {
    auto store = openStore();
    ASSERT_TRUE(store);
    AddOptions agent{std::string("1b4e28ba-2fa1-11d2-883f-0016d3cca427")};
    Added first = addOne(*store, reportOf("pc", 1, serialOnly("BOARD-1")), agent);
    // The board was replaced: new serial, same agent.
    Added next = addOne(*store, reportOf("pc", 2, serialOnly("BOARD-2")), agent);
    EXPECT_EQ(next.machine, first.machine);
    EXPECT_EQ(next.matchedBy, "agent");
}

// The newer scan stays the newest whatever the order the inputs were
// loaded in; a snapshot that does not say when it was taken is the oldest.
TEST_P(StoreIdentity, ScansAreDatedByWhenTheyWereTakenNotLoaded) {
    auto store = openStore();
    ASSERT_TRUE(store);
    data::Report newer = reportOf("pc", 1, serialOnly("NRV-7731-0042"));
    newer.generated = "08-December-2026 17:33";
    data::Report older = reportOf("pc", 2, serialOnly("NRV-7731-0042"));
    older.takenAt = "2026-06-01T09:00:00+02:00";
    older.generated = "09-December-2026 10:00";  // when it was replayed, not taken
    data::Report undated = reportOf("pc", 3, serialOnly("NRV-7731-0042"));
    undated.timeKnown = false;
    undated.generated = "09-December-2026 11:00";
    addOne(*store, newer);
    addOne(*store, older);
    addOne(*store, undated);
    auto latest = queryValue(store->connection(), "SELECT generated_at FROM latest");
    ASSERT_TRUE(latest && *latest);
    EXPECT_EQ(**latest, "2026-12-08 17:33");
    EXPECT_EQ(count("SELECT COUNT(*) FROM scans WHERE generated_at = '2026-06-01 09:00:00'"), 1);
    EXPECT_EQ(count("SELECT COUNT(*) FROM scans WHERE generated_at = ''"), 1);
}

INSTANTIATE_TEST_SUITE_P(Store, StoreIdentity, ::testing::Values("sqlite", "postgresql"), engineName);

}  // namespace
}  // namespace veltrix::store::testing
