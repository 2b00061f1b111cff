#include <QCoreApplication>
#include <gtest/gtest.h>

// Tests of plain classes that use queued calls need an event loop, but no display.
int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    QCoreApplication app(argc, argv);
    return RUN_ALL_TESTS();
}
