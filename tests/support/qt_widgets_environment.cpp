// A widget application for the whole run of a suite whose code paints and takes input.
// Without a display the suite runs on the offscreen platform; under xvfb-run it uses X.
#include <gtest/gtest.h>

#include <QApplication>

namespace {

class QtWidgetsEnvironment final : public ::testing::Environment {
public:
    void SetUp() override
    {
        if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
            qputenv("QT_QPA_PLATFORM", "offscreen");
        m_application = new QApplication(m_argc, m_argv);
    }
    void TearDown() override { delete m_application; }

private:
    int m_argc = 1;
    char m_name[16] = "vez_ui_tests";
    char* m_argv[2] = {m_name, nullptr};
    QApplication* m_application = nullptr;
};

[[maybe_unused]] ::testing::Environment* const g_qt =
    ::testing::AddGlobalTestEnvironment(new QtWidgetsEnvironment);

} // namespace
