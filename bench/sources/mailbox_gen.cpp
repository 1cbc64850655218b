// mailbox_gen N OUT [--no-attachments] [--reference]: writes the benchmark mailbox of N
// messages to OUT; --reference writes the speed benchmark's fixed mix (bench/run_speed.sh).
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>

#include "bench/sources/mailbox_generator.h"

int main(int argc, char** argv) {
    if (argc < 3) {
        std::cerr << "usage: mailbox_gen N OUT [--no-attachments] [--reference]\n";
        return 2;
    }
    const std::uint64_t count = std::strtoull(argv[1], nullptr, 10);
    tallix::bench::MailboxMix mix;
    for (int a = 3; a < argc; ++a) {
        if (std::strcmp(argv[a], "--no-attachments") == 0) {
            mix.attachments = false;
        } else if (std::strcmp(argv[a], "--reference") == 0) {
            mix.reference = true;
        } else {
            std::cerr << "unknown option " << argv[a] << "\n";
            return 2;
        }
    }
    std::ofstream out(argv[2], std::ios::binary | std::ios::trunc);
    if (!out) {
        std::cerr << "cannot write " << argv[2] << "\n";
        return 1;
    }
    const std::uint64_t bytes = tallix::bench::WriteMailbox(out, count, mix);
    out.close();
    if (!out) return 1;
    std::cout << count << " messages, " << bytes << " bytes\n";
    return 0;
}
