#include <QApplication>
#include <gtest/gtest.h>

// GUI tests need a QApplication alive for the whole run; it is created before any test runs.
int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    QApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
