// A Qt application object for the whole run of a suite whose code runs in the event loop
// of the test's thread (the document's worker requests, the server's sockets).
#include <gtest/gtest.h>

#include <QCoreApplication>

namespace {

class QtEnvironment final : public ::testing::Environment {
public:
    void SetUp() override { m_application = new QCoreApplication(m_argc, m_argv); }
    void TearDown() override { delete m_application; }

private:
    int m_argc = 1;
    char m_name[16] = "vez_tests";
    char* m_argv[2] = {m_name, nullptr};
    QCoreApplication* m_application = nullptr;
};

[[maybe_unused]] ::testing::Environment* const g_qt =
    ::testing::AddGlobalTestEnvironment(new QtEnvironment);

} // namespace
