// The listener and its sockets run in the event loop of the test's thread, which needs an
// application object for the whole run.
#include <gtest/gtest.h>

#include <QCoreApplication>

namespace {

class QtEnvironment final : public ::testing::Environment {
public:
    void SetUp() override { m_application = new QCoreApplication(m_argc, m_argv); }
    void TearDown() override { delete m_application; }

private:
    int m_argc = 1;
    char m_name[20] = "vez_server_tests";
    char* m_argv[2] = {m_name, nullptr};
    QCoreApplication* m_application = nullptr;
};

[[maybe_unused]] ::testing::Environment* const g_qt =
    ::testing::AddGlobalTestEnvironment(new QtEnvironment);

} // namespace
