// One main for the whole suite: the toolkit's lock is taken exactly once per
// process, as the program itself does at start-up.
#include <FL/Fl.H>
#include <gtest/gtest.h>

int main(int argc, char** argv)
{
    ::testing::InitGoogleTest(&argc, argv);
    Fl::lock();
    return RUN_ALL_TESTS();
}
