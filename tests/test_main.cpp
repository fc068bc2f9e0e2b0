#include <clocale>

#include <gtest/gtest.h>

int main(int argc, char** argv) {
    // The user's locale, as the programs take it: LC_ALL=it_IT.UTF-8 runs every test with
    // "," as the decimal separator of the C library.
    std::setlocale(LC_ALL, "");
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
