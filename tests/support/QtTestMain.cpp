// GoogleTest main for tests of event-driven code: the socket components wait by
// processing Qt events, which needs an application object. Widget tests get a
// QApplication, on the offscreen platform unless another is asked for.
#ifdef QT_WIDGETS_LIB
#include <QApplication>
using TTestApplication = QApplication;
#else
#include <QCoreApplication>
using TTestApplication = QCoreApplication;
#endif
#include <cstdlib>

#include <gtest/gtest.h>

int main(int argc, char** argv)
{
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    ::testing::InitGoogleTest(&argc, argv);
    TTestApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
