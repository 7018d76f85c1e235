#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "support/native_platform.h"
#include "support/temp_folder.h"
#include "ui/console/agent_command.h"

namespace veltrix {
namespace {

// `agent schedule` and `unschedule` against a scheduler that records what
// it is asked, on an enrolled state folder.
class AgentScheduleTest : public ::testing::Test {
protected:
    AgentScheduleTest() : out_(std::tmpfile()), err_(std::tmpfile()) {
        AgentState state;
        state.server = "https://fleet.example:8443";
        state.agentId = "agent-1";
        state.key = "k";
        test::NativePlatform platform(folder_.str());
        EXPECT_TRUE(saveAgentState(platform, folder_.str(), state).ok());
        agent_.scheduler.schedule = [this](const DailyAgentRun& run) {
            asked_ = run;
            return answer_;
        };
        agent_.scheduler.unschedule = [this]() { return answer_; };
    }
    ~AgentScheduleTest() override {
        std::fclose(out_);
        std::fclose(err_);
    }

    int run(std::vector<std::string> arguments) {
        arguments.insert(arguments.begin(), "agent");
        std::vector<char*> argv;
        for (std::string& a : arguments) argv.push_back(a.data());
        return runAgentCommand(static_cast<int>(argv.size()), argv.data(), agent_, out_, err_);
    }
    static std::string text(std::FILE* f) {
        std::fflush(f);
        std::rewind(f);
        std::string all;
        char buffer[512];
        while (std::size_t n = std::fread(buffer, 1, sizeof buffer, f)) all.append(buffer, n);
        return all;
    }

    test::TempFolder folder_;
    std::FILE* out_;
    std::FILE* err_;
    BatchEnvironment scan_;
    AgentEnvironment agent_{scan_, {}, folder_.str(), {}, {}, {}, {}};
    double drawn_ = 0;
    std::optional<DailyAgentRun> asked_;
    Status answer_;
};

TEST_F(AgentScheduleTest, TheMinuteIsDrawnFromTheHourAfterTheTimeAndWrapsPastMidnight) {
    agent_.uniform = [this] { return drawn_; };
    drawn_ = 0.0;
    EXPECT_EQ(run({"schedule", "--time", "7:05"}), 0);
    EXPECT_EQ(asked_->hour, 7);
    EXPECT_EQ(asked_->minute, 5);
    drawn_ = 0.9999;
    EXPECT_EQ(run({"schedule", "--time", "23:30"}), 0);
    EXPECT_EQ(asked_->hour, 0);
    EXPECT_EQ(asked_->minute, 29);
    EXPECT_NE(text(out_).find("daily at 00:29 as SYSTEM"), std::string::npos);
    // The default folder is the task's default too: no --state-dir in it.
    EXPECT_EQ(asked_->arguments, (std::vector<std::string>{"agent", "run"}));
}

TEST_F(AgentScheduleTest, AnotherStateFolderGoesIntoTheTask) {
    test::TempFolder other;
    test::NativePlatform platform(other.str());
    AgentState state;
    state.server = "https://fleet.example:8443";
    state.agentId = "agent-2";
    state.key = "k";
    ASSERT_TRUE(saveAgentState(platform, other.str(), state).ok());
    agent_.defaultStateFolder = "/var/lib/veltrix";
    EXPECT_EQ(run({"schedule", "--state-dir", other.str()}), 0);
    EXPECT_EQ(asked_->arguments, (std::vector<std::string>{"agent", "run", "--state-dir", other.str()}));
    // The task runs elsewhere: a folder given relative to here is kept whole.
    const std::filesystem::path here = std::filesystem::current_path();
    std::filesystem::current_path(other.str());
    const int code = run({"schedule", "--state-dir", "."});
    std::filesystem::current_path(here);
    EXPECT_EQ(code, 0);
    EXPECT_EQ(std::filesystem::path(asked_->arguments.back()), std::filesystem::path(other.str()));
    EXPECT_EQ(asked_->hour, 12);  // the default time's hour
}

TEST_F(AgentScheduleTest, RefusalsAndFailuresHaveTheirExitCodes) {
    test::TempFolder empty;
    EXPECT_EQ(run({"schedule", "--state-dir", empty.str()}), 2);
    EXPECT_EQ(run({"schedule", "--time", "12:60"}), 2);
    EXPECT_FALSE(asked_);
    answer_ = Failure{schedule_failure::kNoRights, "access denied: run it as an administrator"};
    EXPECT_EQ(run({"schedule"}), 1);
    answer_ = Failure{schedule_failure::kNoTask, "there is no scheduled task to remove"};
    EXPECT_EQ(run({"unschedule"}), 1);
    const std::string errors = text(err_);
    EXPECT_NE(errors.find("not enrolled"), std::string::npos);
    EXPECT_NE(errors.find("as an administrator"), std::string::npos);
    EXPECT_NE(errors.find("no scheduled task"), std::string::npos);
}

}  // namespace
}  // namespace veltrix
