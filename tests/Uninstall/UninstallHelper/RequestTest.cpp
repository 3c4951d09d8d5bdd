// The request line, the reply line and the helper program's exit status.
#include "UninstallHelper.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <spawn.h>

#include <sstream>

#include "HelperTree.h"

extern char** environ;

namespace {

using qzm::test::HelperTree;

struct RequestCase {
    const char* name;
    const char* input;
    bool isRequest;
};

void PrintTo(const RequestCase& c, std::ostream* os) {
    *os << c.name;
}

class RequestTest : public ::testing::TestWithParam<RequestCase> {};

TEST_P(RequestTest, AnyNonBlankLineIsARequest) {
    HelperTree tree;
    tree.InstallEverything();
    std::istringstream in(GetParam().input);
    std::ostringstream out;

    int status = qzm::uninstall::HandleRequest(in, out, tree.UnloadProgram());

    bool request = GetParam().isRequest;
    EXPECT_EQ(status, request ? 0 : 1);
    EXPECT_EQ(out.str(), request ? "{\"reply\":true}\n" : "");
    EXPECT_EQ(tree.Has(qzm::paths::kFilter), !request);
    EXPECT_EQ(tree.UnloadCalls().size(), request ? 1u : 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Lines, RequestTest,
    ::testing::Values(RequestCase{"Designed", "{\"Uninstall\":\"Uninstall\"}\n", true},
                      RequestCase{"WithoutKey", "{}\n{}\n", true},
                      RequestCase{"NotJsonNoNewline", "please", true},
                      RequestCase{"AfterBlankLines", "\n \t\r\n{\"Uninstall\":1}\n", true},
                      RequestCase{"Empty", "", false},
                      RequestCase{"OnlyBlankLines", "\n  \n\r\n", false}),
    [](const ::testing::TestParamInfo<RequestCase>& info) { return info.param.name; });

TEST(ReplyTest, FailedRemovalRepliesFalse) {
    HelperTree tree;
    tree.InstallEverything();
    tree.AddLink("/nowhere", qzm::paths::kOrvaneFolder);  // fails even for root
    std::istringstream in("{\"Uninstall\":\"Uninstall\"}\n");
    std::ostringstream out;
    EXPECT_EQ(qzm::uninstall::HandleRequest(in, out, tree.UnloadProgram()), 0);
    EXPECT_EQ(out.str(), "{\"reply\":false}\n");
}

// The program itself at end of input: no removal, no reply, no unload.
TEST(HelperProgramTest, EndOfInputRemovesNothing) {
    HelperTree tree;
    tree.InstallEverything();
    std::string outPath = tree.Path() + "/rec/out.txt";
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, outPath.c_str(), O_WRONLY | O_CREAT, 0644);
    char* argv[] = {const_cast<char*>(QZM480_HELPER_BINARY), nullptr};
    pid_t pid = 0;
    int status = 0;
    ASSERT_EQ(posix_spawn(&pid, QZM480_HELPER_BINARY, &actions, nullptr, argv, environ), 0);
    posix_spawn_file_actions_destroy(&actions);
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);

    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << status;
    EXPECT_EQ(qzm::test::fs::file_size(outPath), 0u);
    for (const std::string& file : qzm::test::InstalledFiles())
        EXPECT_TRUE(tree.Has(file)) << file;
    EXPECT_TRUE(tree.UnloadCalls().empty());
}

}  // namespace
