// Faults a shared store must survive: a loading process killed with SIGKILL
// in the middle of a transaction, and two loading processes at once.
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>

#include "store_fixture.h"
#include "ui/console/store_command.h"

namespace veltrix::store::testing {
namespace {

using StoreFaults = StoreTest;

// Every scan in the store has exactly the rows, programs and hotfixes of the
// report it was made from, and nothing belongs to a scan that is not there.
void expectOnlyWholeScans(SqlConnection& connection) {
    std::vector<std::pair<std::string, std::string>> scans;  // machine, comment
    ASSERT_TRUE(connection
                    .query("SELECT m.name, s.comment, s.id FROM scans s JOIN machines m ON m.id = s.machine_id", {},
                           [&](const SqlRow& row) {
                               scans.emplace_back(std::string(*row.text(0)), std::string(*row.text(2)));
                           })
                    .ok());
    for (const auto& [machine, id] : scans) {
        data::Report report = makeReport(std::stoi(machine.substr(3)));
        auto rows = queryValue(connection, "SELECT COUNT(*) FROM \"rows\" WHERE scan_id = " + id);
        auto programs = queryValue(connection, "SELECT COUNT(*) FROM software WHERE scan_id = " + id);
        auto hotfixes = queryValue(connection, "SELECT COUNT(*) FROM hotfixes WHERE scan_id = " + id);
        ASSERT_TRUE(rows && programs && hotfixes);
        EXPECT_EQ(std::stoll(**rows), expectedRowCount(report)) << machine;
        EXPECT_EQ(std::stoll(**programs), static_cast<std::int64_t>(report.software.size())) << machine;
        EXPECT_EQ(std::stoll(**hotfixes), static_cast<std::int64_t>(report.hotfixes.size())) << machine;
    }
    auto orphans = queryValue(connection,
                              "SELECT (SELECT COUNT(*) FROM \"rows\" WHERE scan_id NOT IN (SELECT id FROM scans)) + "
                              "(SELECT COUNT(*) FROM software WHERE scan_id NOT IN (SELECT id FROM scans)) + "
                              "(SELECT COUNT(*) FROM scans WHERE machine_id NOT IN (SELECT id FROM machines))");
    ASSERT_TRUE(orphans && *orphans);
    EXPECT_EQ(**orphans, "0");
    if (connection.engine() == Engine::Sqlite) {
        auto integrity = queryValue(connection, "PRAGMA integrity_check");
        ASSERT_TRUE(integrity && *integrity);
        EXPECT_EQ(**integrity, "ok");
    }
}

bool addRange(InventoryStore& store, int from, int to) {
    for (int i = from; i < to; ++i) {
        data::Report report = makeReport(i);
        if (!store.add(report, digestOf(report), "child")) return false;
    }
    return true;
}

TEST_P(StoreFaults, LoadKilledMidTransactionLeavesEveryScanWholeOrAbsent) {
    ASSERT_TRUE(openStore());
    int ready[2];
    ASSERT_EQ(pipe(ready), 0);
    pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        close(ready[0]);
        auto store = InventoryStore::open(target_, OpenMode::CreateOrUpgrade);
        if (!store) _exit(3);
        for (int batch = 0; batch < 2; ++batch) {
            if (!(*store)->beginBatch().ok() || !addRange(**store, batch * 10, batch * 10 + 10) ||
                !(*store)->commitBatch().ok()) {
                _exit(4);
            }
        }
        // The third batch is cut off with five scans in and a sixth half
        // written: its machine, its scan and some of its rows.
        if (!(*store)->beginBatch().ok() || !addRange(**store, 20, 25)) _exit(5);
        SqlConnection& raw = (*store)->connection();
        auto machine = queryValue(raw, "INSERT INTO machines (name) VALUES ('PC-0025') RETURNING id");
        if (!machine || !*machine) _exit(6);
        auto scan = queryValue(raw,
                               "INSERT INTO scans (machine_id, generated, generated_at, source, digest, comment, "
                               "version) VALUES (?, '', '', 'child', 'half', '', '') RETURNING id",
                               {std::int64_t{std::stoll(**machine)}});
        if (!scan || !*scan) _exit(7);
        if (!raw.insertRows("\"rows\"", {"scan_id", "position", "section", "item", "label", "value"},
                            {{std::int64_t{std::stoll(**scan)}, std::int64_t{0}, std::string_view("CPU"),
                              std::int64_t{0}, std::string_view("Name"), std::string_view("half")}})
                 .ok()) {
            _exit(8);
        }
        char mark = 'x';
        if (write(ready[1], &mark, 1) != 1) _exit(9);
        pause();
        _exit(0);
    }
    close(ready[1]);
    char mark = 0;
    ssize_t got = read(ready[0], &mark, 1);
    close(ready[0]);
    kill(child, SIGKILL);
    int status = 0;
    waitpid(child, &status, 0);
    ASSERT_EQ(got, 1) << "the loading child stopped early, exit " << WEXITSTATUS(status);
    ASSERT_TRUE(WIFSIGNALED(status));

    auto connection = connect();
    EXPECT_EQ(count("SELECT COUNT(*) FROM scans"), 20);
    EXPECT_EQ(count("SELECT COUNT(*) FROM machines WHERE name >= 'PC-0020'"), 0);
    expectOnlyWholeScans(*connection);

    // The store goes on: the lost batch loads again.
    auto store = openStore();
    ASSERT_TRUE(store);
    std::vector<data::Report> again;
    for (int i = 15; i < 26; ++i) again.push_back(makeReport(i));
    addAll(*store, again);
    EXPECT_EQ(count("SELECT COUNT(*) FROM scans"), 26);
    expectOnlyWholeScans(*connection);
}

// Inputs for the command line: files whose content is the machine number,
// read by a loader that builds that machine's report.
Result<data::Report> loadNumbered(const std::string& path) {
    std::ifstream in(path);
    int index = -1;
    if (!(in >> index) || index < 0) return Failure{2, "not a numbered input"};
    return makeReport(index);
}

std::vector<std::string> numberedInputs(const std::filesystem::path& folder, int from, int to) {
    std::filesystem::create_directories(folder);
    std::vector<std::string> paths;
    for (int i = from; i < to; ++i) {
        auto path = folder / ("input-" + std::to_string(i) + ".txt");
        std::ofstream(path) << i << "\n";
        paths.push_back(path.string());
    }
    return paths;
}

int runWith(std::vector<std::string> arguments, const StoreInputLoader& load = loadNumbered) {
    std::vector<char*> argv;
    for (auto& argument : arguments) argv.push_back(argument.data());
    std::FILE* sink = std::tmpfile();
    int code = runStoreCommand(static_cast<int>(argv.size()), argv.data(), load, sink, sink);
    std::fclose(sink);
    return code;
}

TEST_P(StoreFaults, TwoLoadingProcessesAtOnceBothSucceedAndLoseNothing) {
    std::filesystem::path inputs = std::filesystem::temp_directory_path() /
                                   ("veltrix-store-inputs-" + std::to_string(getpid()));
    constexpr int kEach = 150;  // more than two transactions' worth each
    std::vector<pid_t> children;
    int start[2];
    ASSERT_EQ(pipe(start), 0);
    for (int process = 0; process < 2; ++process) {
        auto paths = numberedInputs(inputs, process * kEach, (process + 1) * kEach);
        pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            close(start[1]);
            char go;
            if (read(start[0], &go, 1) != 0) _exit(10);  // wait for both to be ready
            std::vector<std::string> arguments{"store", "add", "--db", target_};
            arguments.insert(arguments.end(), paths.begin(), paths.end());
            _exit(runWith(arguments));
        }
        children.push_back(child);
    }
    close(start[0]);
    close(start[1]);  // both start now
    for (pid_t child : children) {
        int status = 0;
        waitpid(child, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
    }
    std::filesystem::remove_all(inputs);
    EXPECT_EQ(count("SELECT COUNT(*) FROM scans"), 2 * kEach);
    EXPECT_EQ(count("SELECT COUNT(*) FROM machines"), 2 * kEach);
    auto connection = connect();
    expectOnlyWholeScans(*connection);
}

INSTANTIATE_TEST_SUITE_P(Store, StoreFaults, ::testing::Values("sqlite", "postgresql"), engineName);

}  // namespace
}  // namespace veltrix::store::testing
