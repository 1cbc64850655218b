// maildir_fixture DIR: writes the test Maildir to DIR (the end-to-end tests run txengine on it).
#include <exception>
#include <iostream>

#include "tests/support/maildir_fixture.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::cerr << "usage: maildir_fixture DIR\n";
        return 2;
    }
    try {
        tallix::testing::WriteMaildirFixture(argv[1]);
    } catch (const std::exception& e) {
        std::cerr << e.what() << "\n";
        return 1;
    }
    return 0;
}
