// A Qt application object for the whole run of a suite whose code runs in the event loop
// of the test's thread (the document's worker requests, the server's sockets). Suites whose
// code paints and takes input define VEZ_QT_WIDGETS and get a widget application: without a
// display on the offscreen platform, under xvfb-run on X.
#include <gtest/gtest.h>

#ifdef VEZ_QT_WIDGETS
#include <QApplication>
using Application = QApplication;
#define VEZ_QT_SUITE "vez_ui_tests"
#else
#include <QCoreApplication>
using Application = QCoreApplication;
#define VEZ_QT_SUITE "vez_tests"
#endif

namespace {

class QtEnvironment final : public ::testing::Environment {
public:
    void SetUp() override
    {
#ifdef VEZ_QT_WIDGETS
        if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
            qputenv("QT_QPA_PLATFORM", "offscreen");
#endif
        m_application = new Application(m_argc, m_argv);
    }
    void TearDown() override { delete m_application; }

private:
    int m_argc = 1;
    char m_name[16] = VEZ_QT_SUITE;
    char* m_argv[2] = {m_name, nullptr};
    Application* m_application = nullptr;
};

[[maybe_unused]] ::testing::Environment* const g_qt =
    ::testing::AddGlobalTestEnvironment(new QtEnvironment);

} // namespace
