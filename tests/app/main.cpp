// gtest main with a QApplication dressed as the viewer dresses it.
#include "DarkStyle.h"

#include <QApplication>
#include <gtest/gtest.h>

int main(int argc, char **argv)
{
    Q_INIT_RESOURCE(resources);
    QApplication app(argc, argv);
    QApplication::setStyle(new DarkStyle);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
