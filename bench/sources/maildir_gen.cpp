// maildir_gen N DIR [--no-attachments]: writes the benchmark messages of the mailbox
// generator as a Maildir: one file per message in DIR/new, LF line ends as delivery agents
// write them, delivered one second apart in mailbox order.
#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iostream>
#include <string>

#include "bench/sources/mailbox_generator.h"

int main(int argc, char** argv) {
    if (argc < 3) {
        std::cerr << "usage: maildir_gen N DIR [--no-attachments]\n";
        return 2;
    }
    const std::uint64_t count = std::strtoull(argv[1], nullptr, 10);
    tallix::bench::MailboxMix mix;
    if (argc > 3 && std::strcmp(argv[3], "--no-attachments") == 0) mix.attachments = false;
    const std::string dir = argv[2];
    for (const char* sub : {"", "/cur", "/new", "/tmp"}) {
        if (::mkdir((dir + sub).c_str(), 0700) != 0 && errno != EEXIST) {
            std::cerr << "cannot create " << dir << sub << "\n";
            return 1;
        }
    }
    constexpr std::uint64_t kFirstDelivery = 1609459200;  // 1/1/2021
    std::uint64_t n = 0, bytes = 0;
    bool ok = true;
    std::string lf;
    tallix::bench::ForEachMessage(count, mix, [&](std::string_view, std::string_view message) {
        ++n;
        lf.clear();
        for (const char c : message)
            if (c != '\r') lf.push_back(c);
        const std::string path = dir + "/new/" + std::to_string(kFirstDelivery + n) + ".M" +
                                 std::to_string(n) + "P1.bench";
        std::ofstream out(path, std::ios::binary | std::ios::trunc);
        out.write(lf.data(), static_cast<std::streamsize>(lf.size()));
        ok = ok && static_cast<bool>(out);
        bytes += lf.size();
    });
    if (!ok) {
        std::cerr << "cannot write the messages\n";
        return 1;
    }
    std::cout << n << " messages, " << bytes << " bytes\n";
    return 0;
}
