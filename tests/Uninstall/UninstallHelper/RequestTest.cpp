// The request line, the reply line and the helper program's exit status.
#include "UninstallHelper.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <spawn.h>

#include <cstdio>
#include <sstream>

#include "HelperTree.h"

extern char** environ;

namespace {

using qzm::test::HelperTree;
namespace paths = qzm::paths;

struct RequestCase {
    const char* name;
    const char* input;
    bool removes;
};

class RequestTest : public ::testing::TestWithParam<RequestCase> {};

TEST_P(RequestTest, AnyNonBlankLineIsARequest) {
    HelperTree tree;
    tree.InstallEverything();
    std::istringstream in(GetParam().input);
    std::ostringstream out;

    int status = qzm::uninstall::HandleRequest(in, out, tree.UnloadProgram());

    if (GetParam().removes) {
        EXPECT_EQ(status, 0);
        EXPECT_EQ(out.str(), "{\"reply\":true}\n");
        EXPECT_FALSE(tree.Has(paths::kFilter));
        EXPECT_EQ(tree.UnloadCalls().size(), 1u);
    } else {
        EXPECT_EQ(status, 1);
        EXPECT_EQ(out.str(), "");
        for (const std::string& file : qzm::test::InstalledFiles())
            EXPECT_TRUE(tree.Has(file));
        EXPECT_TRUE(tree.UnloadCalls().empty());
    }
}

INSTANTIATE_TEST_SUITE_P(
    Lines, RequestTest,
    ::testing::Values(RequestCase{"Designed", "{\"Uninstall\":\"Uninstall\"}\n", true},
                      RequestCase{"WithoutKey", "{}\n", true},
                      RequestCase{"NotJson", "please", true},
                      RequestCase{"AfterBlankLines", "\n \t\r\n{\"Uninstall\":1}\n", true},
                      RequestCase{"Empty", "", false},
                      RequestCase{"OnlyBlankLines", "\n  \n\r\n", false}),
    [](const ::testing::TestParamInfo<RequestCase>& info) { return info.param.name; });

TEST(RequestTest, OnlyTheFirstRequestIsHandled) {
    HelperTree tree;
    std::istringstream in("{}\n{}\n");
    std::ostringstream out;
    EXPECT_EQ(qzm::uninstall::HandleRequest(in, out, tree.UnloadProgram()), 0);
    EXPECT_EQ(out.str(), "{\"reply\":true}\n");
    EXPECT_EQ(tree.UnloadCalls().size(), 1u);
}

TEST(RequestTest, FailedRemovalRepliesFalse) {
    HelperTree tree;
    tree.InstallEverything();
    // A link above a designed path makes the removal fail even for root.
    qzm::test::fs::remove_all(tree / paths::kOrvaneFolder);
    tree.AddLink("/nowhere", paths::kOrvaneFolder);
    std::istringstream in("{\"Uninstall\":\"Uninstall\"}\n");
    std::ostringstream out;
    EXPECT_EQ(qzm::uninstall::HandleRequest(in, out, tree.UnloadProgram()), 0);
    EXPECT_EQ(out.str(), "{\"reply\":false}\n");
}

// The installed program itself, at end of input: nothing is removed, no
// reply is written and the unload program is not run.
TEST(HelperProgramTest, EndOfInputRemovesNothing) {
    HelperTree tree;
    tree.InstallEverything();
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    std::string outPath = tree.Path() + "/rec/out.txt";
    posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT, 0644);
    char* argv[] = {const_cast<char*>(QZM480_HELPER_BINARY), nullptr};
    pid_t pid = 0;
    ASSERT_EQ(posix_spawn(&pid, QZM480_HELPER_BINARY, &actions, nullptr, argv, environ), 0);
    posix_spawn_file_actions_destroy(&actions);
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);

    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 1);
    EXPECT_EQ(qzm::test::fs::file_size(outPath), 0u);
    for (const std::string& file : qzm::test::InstalledFiles())
        EXPECT_TRUE(tree.Has(file)) << file;
}

}  // namespace
