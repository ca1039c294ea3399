// The unit tests' main: GoogleTest's own, but a filter that selects nothing fails.
#include "tests/run_selected.h"

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    return RunSelectedTests();
}
