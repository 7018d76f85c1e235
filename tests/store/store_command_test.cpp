// `veltrix store ...` as a script sees it: exit codes, messages, files.
#include <unistd.h>

#include <fstream>
#include <sstream>

#include "store_fixture.h"
#include "support/file_text.h"
#include "ui/console/store_command.h"

namespace veltrix::store::testing {
namespace {

struct Outcome {
    int code = -1;
    std::string out;
    std::string err;
};

using veltrix::test::readFile;

// Inputs hold a machine number; anything else is a bad input.
Result<data::Report> loadNumbered(const std::string& path) {
    std::ifstream in(path);
    int index = -1;
    if (!(in >> index) || index < 0) return Failure{2, path + ": not a report"};
    return makeReport(index);
}

Outcome run(std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), "store");
    std::vector<char*> argv;
    for (auto& argument : arguments) argv.push_back(argument.data());
    std::FILE* out = std::tmpfile();
    std::FILE* err = std::tmpfile();
    Outcome result;
    result.code = runStoreCommand(static_cast<int>(argv.size()), argv.data(), loadNumbered, out, err);
    result.out = veltrix::test::readAndClose(out);
    result.err = veltrix::test::readAndClose(err);
    return result;
}

class StoreCommand : public StoreTest {
protected:
    std::string input(const std::string& name, const std::string& content) {
        auto path = folder_ / name;
        std::ofstream(path) << content;
        return path.string();
    }
};

TEST_P(StoreCommand, BadInputsAreNamedAndSkippedWhileTheOthersLoad) {
    std::string one = input("one.htm", "1\n"), two = input("two.htm", "2\n"), bad = input("bad.htm", "garbage");
    std::string missing = (folder_ / "missing.htm").string();
    Outcome mixed = run({"add", "--db", target_, one, bad, two, missing});
    EXPECT_EQ(mixed.code, 1);
    EXPECT_EQ(mixed.out, "2 added, 0 already in the store, 2 skipped\n");
    EXPECT_NE(mixed.err.find("skipped " + bad + ": " + bad + ": not a report"), std::string::npos) << mixed.err;
    EXPECT_NE(mixed.err.find("skipped " + missing + ": cannot open"), std::string::npos) << mixed.err;

    // The same inputs again (one under another name) are the same scans.
    std::string copy = input("copy-of-one.htm", "1\n");
    Outcome again = run({"add", "--db", target_, two, copy});
    EXPECT_EQ(again.code, 0) << again.err;
    EXPECT_EQ(again.out, "0 added, 2 already in the store, 0 skipped\n");

    Outcome none = run({"add", "--db", target_, bad, missing});
    EXPECT_EQ(none.code, 2);
    EXPECT_EQ(count("SELECT COUNT(*) FROM scans"), 2);
}

TEST_P(StoreCommand, OverviewWritesThePageOrCsv) {
    ASSERT_EQ(run({"add", "--db", target_, input("a", "1"), input("b", "2")}).code, 0);
    auto page = folder_ / "fleet.htm";
    Outcome html = run({"overview", "--db", target_, "--output", page.string()});
    ASSERT_EQ(html.code, 0) << html.err;
    std::string text = readFile(page);
    EXPECT_NE(text.find("Machines: 2</font>"), std::string::npos);
    EXPECT_NE(text.find("PC-0002&nbsp;</td>"), std::string::npos);
    EXPECT_FALSE(std::filesystem::exists(page.string() + ".partial"));

    auto csv = folder_ / "fleet.csv";
    ASSERT_EQ(run({"overview", "--db", target_, "--output", csv.string(), "--format", "csv"}).code, 0);
    std::string lines = readFile(csv);
    EXPECT_NE(lines.find("\r\nPC-0001,,1,01-December-2026 09:01,Norvane / Office 7001,2 x Core i5-12500,6144 MB,"
                         "ST31000524AS (932 GB); Samsung SSD 860 v0 (477 GB),Microsoft Windows 10 Pro,4,\r\n"),
              std::string::npos)
        << lines;

    // An output folder that does not exist: exit 1, nothing left behind.
    Outcome unwritable = run({"overview", "--db", target_, "--output", (folder_ / "no" / "x.htm").string()});
    EXPECT_EQ(unwritable.code, 1);
    EXPECT_NE(unwritable.err.find("cannot write"), std::string::npos);
}

TEST_P(StoreCommand, RealSnapshotLoadsThroughTheProgramsOwnReader) {
    std::string snapshot = VELTRIX_EXAMPLES "/office-desktop.json";
    std::string notReport = input("notes.htm", "<html><body>shopping list</body></html>");
    auto csv = folder_ / "fleet.csv";
    std::vector<std::vector<std::string>> commands{
        {"store", "add", "--db", target_, snapshot, notReport},
        {"store", "overview", "--db", target_, "--output", csv.string(), "--format", "csv"}};
    std::vector<int> codes;
    for (auto& arguments : commands) {
        std::vector<char*> argv;
        for (auto& argument : arguments) argv.push_back(argument.data());
        std::FILE* sink = std::tmpfile();
        codes.push_back(runStoreCommand(static_cast<int>(argv.size()), argv.data(), sink, sink));
        std::fclose(sink);
    }
    EXPECT_EQ(codes, (std::vector<int>{1, 0}));
    std::string lines = readFile(csv);
    // The example snapshot does not say when it was taken.
    EXPECT_NE(lines.find("\r\noffice-desktop,NRV-7731-0042,1,unknown,"), std::string::npos) << lines;
    EXPECT_NE(lines.find(",Norvane Computing GmbH / Norvane Office 7731,Intel(R) Core(TM) i5-12500 CPU @ 3.00GHz,"
                         "16384 MB,Samsung SSD 980 500GB (466 GB),Microsoft Windows 10 Pro,3,\r\n"),
              std::string::npos)
        << lines;
}

TEST_P(StoreCommand, OverviewTakesHtmlAndDashAndAFolderIsNoInput) {
    Outcome added = run({"add", "--db", target_, input("one.htm", "1\n"), folder_.string()});
    EXPECT_EQ(added.code, 1);
    EXPECT_EQ(added.out, "1 added, 0 already in the store, 1 skipped\n");
    EXPECT_EQ(added.err, "veltrix: skipped " + folder_.string() + ": is a folder, not a regular file (for a captured "
                         "system use veltrix --batch --sysroot " + folder_.string() + " --name NAME, then add its "
                         "report)\n");

    auto page = folder_ / "fleet.htm";
    Outcome html = run({"overview", "--db", target_, "--format", "html", "--output", page.string()});
    ASSERT_EQ(html.code, 0) << html.err;
    EXPECT_EQ(readFile(page).rfind("<html>", 0), 0u);

    Outcome toStdout = run({"overview", "--db", target_, "--format", "csv", "--output", "-"});
    ASSERT_EQ(toStdout.code, 0) << toStdout.err;
    EXPECT_EQ(toStdout.out.rfind("Machine,", 0), 0u) << toStdout.out;
    EXPECT_NE(toStdout.out.find("\r\nPC-0001,"), std::string::npos) << toStdout.out;
    EXPECT_FALSE(std::filesystem::exists("-"));
}

INSTANTIATE_TEST_SUITE_P(Store, StoreCommand, ::testing::Values("sqlite", "postgresql"), engineName);

TEST(StoreCommandLine, BadArgumentsAndUnusableStoresExitTwo) {
    auto folder = std::filesystem::temp_directory_path() / ("veltrix-store-args-" + std::to_string(getpid()));
    std::filesystem::create_directories(folder);
    auto output = (folder / "out.htm").string();
    // Without a command, or with one there is none of, the commands are named.
    for (const std::vector<std::string>& arguments : {std::vector<std::string>{}, {"list"}}) {
        Outcome none = run(arguments);
        EXPECT_EQ(none.code, 2);
        EXPECT_NE(none.err.find("; the commands are add (load reports and snapshots) and overview (one line per "
                                "machine); see veltrix store --help\n"),
                  std::string::npos)
            << none.err;
    }
    EXPECT_NE(run({"list"}).err.find("there is no command 'list'"), std::string::npos);
    EXPECT_EQ(run({"add"}).code, 2);
    EXPECT_EQ(run({"overview", "--db", "x.sqlite"}).code, 2);  // no --output
    EXPECT_EQ(run({"overview", "--output", output, "--format", "xml"}).code, 2);

    // No store file: refused without creating one.
    auto absent = (folder / "absent.sqlite").string();
    Outcome missing = run({"overview", "--db", absent, "--output", output});
    EXPECT_EQ(missing.code, 2);
    EXPECT_NE(missing.err.find("there is no store at " + absent), std::string::npos) << missing.err;
    EXPECT_FALSE(std::filesystem::exists(absent));
    EXPECT_FALSE(std::filesystem::exists(output));

    // A file that is not a database is left as it was.
    auto notes = folder / "notes.sqlite";
    std::ofstream(notes) << "these are my notes, not a database, and they are long enough to look like one";
    std::string before = readFile(notes);
    Outcome foreign = run({"add", "--db", notes.string(), notes.string()});
    EXPECT_EQ(foreign.code, 2);
    EXPECT_NE(foreign.err.find("cannot open the store " + notes.string()), std::string::npos) << foreign.err;
    EXPECT_EQ(readFile(notes), before);
    std::filesystem::remove_all(folder);
}

TEST(StoreCommandLine, UnreachableServerOrWrongPasswordIsAClearMessageAndExitTwo) {
    auto folder = std::filesystem::temp_directory_path() / ("veltrix-store-server-" + std::to_string(getpid()));
    std::filesystem::create_directories(folder);
    std::string output = (folder / "out.htm").string();
    std::string nowhere = "postgresql://tech:s3cret@/fleet?host=" + folder.string() + "&port=5999";
    for (const char* command : {"add", "overview"}) {
        std::vector<std::string> arguments{command, "--db", nowhere};
        if (std::string(command) == "add") arguments.push_back(output);
        else arguments.insert(arguments.end(), {"--output", output});
        Outcome unreachable = run(arguments);
        EXPECT_EQ(unreachable.code, 2) << command;
        EXPECT_NE(unreachable.err.find("cannot connect to the store postgresql://tech:***@/fleet"), std::string::npos)
            << unreachable.err;
        EXPECT_EQ(unreachable.err.find("s3cret"), std::string::npos);
    }
    const char* url = std::getenv("VELTRIX_TEST_PG_URL");
    if (url) {
        // The server's own URL with the password changed.
        std::string wrong = url;
        std::size_t colon = wrong.find(':', wrong.find("://") + 3);
        std::size_t at = wrong.find('@');
        ASSERT_TRUE(colon != std::string::npos && at != std::string::npos && colon < at);
        wrong.replace(colon + 1, at - colon - 1, "wrong-pw");
        Outcome denied = run({"overview", "--db", wrong, "--output", output});
        EXPECT_EQ(denied.code, 2);
        EXPECT_NE(denied.err.find("password authentication failed"), std::string::npos) << denied.err;
        EXPECT_EQ(denied.err.find("wrong-pw"), std::string::npos);
    }
    EXPECT_FALSE(std::filesystem::exists(output));
    std::filesystem::remove_all(folder);
}

}  // namespace
}  // namespace veltrix::store::testing
