#include "bench/sources/mailbox_generator.h"

#include <functional>
#include <string>

namespace tallix::bench {
namespace {

// A small linear congruential generator: fixed, so the corpus never depends on the library.
struct Lcg {
    std::uint64_t state;
    std::uint32_t Next() {
        state = state * 6364136223846793005ULL + 1442695040888963407ULL;
        return static_cast<std::uint32_t>(state >> 33);
    }
    std::uint32_t Below(std::uint32_t n) { return Next() % n; }
};

const char* const kDays[] = {"Mon", "Tue", "Wed", "Thu", "Fri", "Sat", "Sun"};
const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                               "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
const char* const kNames[] = {"Jane Doe", "Bob O'Neil", "Pat Smith", "Lee Wong", "Ana Ruiz"};
const char* const kWords[] = {"order",    "shipping", "invoice", "thanks",   "customer", "product",
                              "delivery", "payment",  "address", "quantity", "total",    "price"};

std::string Pad2(unsigned v) {
    return (v < 10 ? "0" : "") + std::to_string(v);
}

std::string Filler(Lcg& rng, int lines) {
    std::string out;
    for (int l = 0; l < lines; ++l) {
        for (int w = 0; w < 10; ++w) {
            out += kWords[rng.Below(12)];
            out += w == 9 ? "\r\n" : " ";
        }
    }
    return out;
}

std::string Base64Filler(Lcg& rng, int lines) {
    static const char kAlphabet[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    for (int l = 0; l < lines; ++l) {
        for (int c = 0; c < 76; ++c) out += kAlphabet[rng.Below(64)];
        out += "\r\n";
    }
    return out;
}

std::string Base64(const std::string& in) {
    static const char kAlphabet[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    std::size_t column = 0;
    for (std::size_t i = 0; i < in.size(); i += 3) {
        const std::size_t n = in.size() - i < 3 ? in.size() - i : 3;
        std::uint32_t v = static_cast<unsigned char>(in[i]) << 16;
        if (n > 1) v |= static_cast<unsigned char>(in[i + 1]) << 8;
        if (n > 2) v |= static_cast<unsigned char>(in[i + 2]);
        out += kAlphabet[(v >> 18) & 63];
        out += kAlphabet[(v >> 12) & 63];
        out += n > 1 ? kAlphabet[(v >> 6) & 63] : '=';
        out += n > 2 ? kAlphabet[v & 63] : '=';
        column += 4;
        if (column == 76) {
            out += "\r\n";
            column = 0;
        }
    }
    if (column != 0) out += "\r\n";
    return out;
}

// The reference workload: the kind of message number i (counted from 1) in the fixed cycle.
enum class RefKind { kPlainOrder, kHtmlOrder, kAttachment, kLunch, kNews };

RefKind ReferenceKind(std::uint64_t i, bool attachments) {
    if (attachments) {
        switch ((i - 1) % 5) {
            case 0:
            case 1:
                return RefKind::kPlainOrder;
            case 2:
                return RefKind::kHtmlOrder;
            case 3:
                return RefKind::kAttachment;
            default:
                return ((i - 1) / 5) % 2 == 0 ? RefKind::kLunch : RefKind::kNews;
        }
    }
    switch ((i - 1) % 4) {
        case 0:
        case 1:
            return RefKind::kPlainOrder;
        case 2:
            return RefKind::kHtmlOrder;
        default:
            return ((i - 1) / 4) % 2 == 0 ? RefKind::kLunch : RefKind::kNews;
    }
}

std::string Slug(const std::string& name) {
    std::string out;
    for (char c : name) {
        if (c >= 'A' && c <= 'Z')
            out += static_cast<char>(c - 'A' + 'a');
        else if (c >= 'a' && c <= 'z')
            out += c;
    }
    return out;
}

// Appends message number i of the reference workload to m.
void AppendReferenceMessage(std::string& m, Lcg& rng, std::uint64_t i, bool attachments) {
    const unsigned day = 1 + rng.Below(28);
    const unsigned hour = rng.Below(24), minute = rng.Below(60), second = rng.Below(60);
    const char* month = kMonths[rng.Below(12)];
    const char* weekday = kDays[rng.Below(7)];
    const std::string time = Pad2(hour) + ":" + Pad2(minute) + ":" + Pad2(second);
    const std::string name = kNames[rng.Below(5)];
    const std::string order = std::to_string(100000 + i);
    const std::string total = std::to_string(rng.Below(1000)) + "." + Pad2(rng.Below(100));
    const std::string quantity = std::to_string(1 + rng.Below(20));
    const RefKind kind = ReferenceKind(i, attachments);

    m += "From - " + std::string(weekday) + " " + month + " " + (day < 10 ? " " : "") +
         std::to_string(day) + " " + time + " 2021\r\n";
    m += "X-Mozilla-Status: 0001\r\nX-Mozilla-Status2: 00000000\r\n";
    m += "Date: " + std::string(weekday) + ", " + Pad2(day) + " " + month + " 2021 " + time +
         " -0500\r\n";
    m += "To: orders@shop.example\r\n";
    switch (kind) {
        case RefKind::kPlainOrder:
        case RefKind::kHtmlOrder:
            m += "From: \"" + name + "\" <" + Slug(name) + order + "@example.com>\r\n";
            m += "Subject: Order confirmation " + order + "\r\n";
            break;
        case RefKind::kAttachment:
            m += "From: \"" + name + "\" <stock@supplier.example>\r\n";
            m += "Subject: Inventory sheet " + order + "\r\n";
            break;
        case RefKind::kLunch:
            m += "From: \"" + name + "\" <" + Slug(name) + "@office.example>\r\n";
            m += "Subject: Lunch on " + std::string(kDays[rng.Below(5)]) + " " + order + "\r\n";
            break;
        case RefKind::kNews:
            m += "From: News <news@list.example>\r\nSubject: Weekly news " + order + "\r\n";
            break;
    }
    m += "Message-ID: <" + order + "@generator.example>\r\nMIME-Version: 1.0\r\n";

    switch (kind) {
        case RefKind::kPlainOrder:
            m += "Content-Type: text/plain; charset=us-ascii\r\n\r\n";
            m += "Order number: " + order + "\r\nCustomer: " + name + "\r\nTotal: " + total +
                 "\r\nQuantity: " + quantity + "\r\n" + Filler(rng, 20);
            break;
        case RefKind::kHtmlOrder:
            m += "Content-Type: text/html; charset=us-ascii\r\n\r\n";
            m += "<html><body>\r\n<p>Order number: " + order + "</p>\r\n<p>Customer: <b>" + name +
                 "</b></p>\r\n<p>Total: " + total + "</p>\r\n<p>Quantity: " + quantity +
                 "</p>\r\n<p>" + Filler(rng, 18) + "</p>\r\n</body></html>\r\n";
            break;
        case RefKind::kAttachment: {
            const std::string boundary = "------------gen" + order;
            m += "Content-Type: multipart/mixed;\r\n boundary=\"" + boundary + "\"\r\n\r\n";
            m += "This is a multi-part message in MIME format.\r\n--" + boundary + "\r\n";
            m += "Content-Type: text/plain; charset=us-ascii\r\nContent-Transfer-Encoding: "
                 "7bit\r\n\r\n";
            m += "Order number: " + order + "\r\nThe stock sheet for this order is attached.\r\n" +
                 Filler(rng, 3) + "\r\n--" + boundary + "\r\n";
            std::string csv = "sku,description,quantity,price\r\n";
            for (int row = 0; row < 16; ++row) {
                csv += "SKU-" + std::to_string(10000 + rng.Below(90000)) + "," +
                       kWords[rng.Below(12)] + " " + kWords[rng.Below(12)] + "," +
                       std::to_string(1 + rng.Below(50)) + "," + std::to_string(rng.Below(500)) +
                       "." + Pad2(rng.Below(100)) + "\r\n";
            }
            m += "Content-Type: text/csv;\r\n name=\"sheet.csv\"\r\nContent-Transfer-Encoding: "
                 "base64\r\n"
                 "Content-Disposition: attachment;\r\n filename=\"sheet.csv\"\r\n\r\n";
            m += Base64(csv) + "\r\n--" + boundary + "--\r\n";
            break;
        }
        case RefKind::kLunch:
            m += "Content-Type: text/plain; charset=us-ascii\r\n\r\n";
            m += "Shall we meet at " + Pad2(11 + rng.Below(3)) + ":" + Pad2(rng.Below(4) * 15) +
                 " for lunch?\r\n" + Filler(rng, 29);
            break;
        case RefKind::kNews:
            m += "Content-Type: text/plain; charset=us-ascii\r\n\r\n" + Filler(rng, 30);
            break;
    }
    m += "\r\n";
}

}  // namespace

void ForEachMessage(
    std::uint64_t count, MailboxMix mix,
    const std::function<void(std::string_view separator, std::string_view message)>& visit) {
    Lcg rng{20240607};
    std::string separator;
    std::string m;
    for (std::uint64_t i = 1; i <= count; ++i) {
        m.clear();
        if (mix.reference) {
            AppendReferenceMessage(m, rng, i, mix.attachments);
            // It starts with its separator line and ends with the blank line that ends it in
            // the mailbox, which WriteMailbox adds back.
            const std::string_view whole = std::string_view(m).substr(0, m.size() - 2);
            const std::size_t body = whole.find("\r\n") + 2;
            visit(whole.substr(0, body), whole.substr(body));
            continue;
        }
        const unsigned day = 1 + rng.Below(28);
        const unsigned hour = rng.Below(24), minute = rng.Below(60), second = rng.Below(60);
        const char* month = kMonths[rng.Below(12)];
        const char* weekday = kDays[rng.Below(7)];
        const std::string time = Pad2(hour) + ":" + Pad2(minute) + ":" + Pad2(second);
        const std::string name = kNames[rng.Below(5)];
        const std::string order = std::to_string(100000 + i);
        unsigned kind = rng.Below(10);  // 0-3 plain, 4-5 HTML, 6-7 attachment, 8-9 newsletter
        if (!mix.attachments && (kind == 6 || kind == 7)) kind = 0;

        // The separator line pads a one-digit day with a blank, as the C library does.
        separator = "From - " + std::string(weekday) + " " + month + " " + (day < 10 ? " " : "") +
                    std::to_string(day) + " " + time + " 2021\r\n";
        m += "X-Mozilla-Status: 0001\r\nX-Mozilla-Status2: 00000000\r\n";
        m += "Date: " + std::string(weekday) + ", " + Pad2(day) + " " + month + " 2021 " + time +
             " -0500\r\n";
        m += "To: orders@shop.example\r\n";
        if (kind <= 5) {
            m += "From: Shop <noreply@shop.example>\r\nReply-To: \"" + name + "\" <customer" +
                 order + "@example.com>\r\nSubject: Order confirmation " + order + "\r\n";
        } else if (kind <= 7) {
            m += "From: \"" + name + "\" <form@web.example>\r\nSubject: Contact form " + order +
                 "\r\n";
        } else {
            m += "From: News <news@list.example>\r\nSubject: Weekly news " + order + "\r\n";
        }
        m += "Message-ID: <" + order + "@generator.example>\r\nMIME-Version: 1.0\r\n";

        if (kind <= 3) {
            m += "Content-Type: text/plain; charset=us-ascii\r\n\r\n";
            m += "Order: " + order + "\r\nName: " + name +
                 "\r\nTotal: " + std::to_string(rng.Below(1000)) + ".00\r\n" + Filler(rng, 20);
        } else if (kind <= 5) {
            m += "Content-Type: text/html; charset=us-ascii\r\n\r\n";
            m += "<html><body><p>Order: <b>" + order + "</b></p><p>Name: " + name +
                 "</p><table><tr><td>Total</td><td>" + std::to_string(rng.Below(1000)) +
                 ".00</td></tr></table><p>" + Filler(rng, 18) + "</p></body></html>\r\n";
        } else if (kind <= 7) {
            const std::string boundary = "------------gen" + order;
            m += "Content-Type: multipart/mixed;\r\n boundary=\"" + boundary + "\"\r\n\r\n";
            m += "This is a multi-part message in MIME format.\r\n--" + boundary + "\r\n";
            m += "Content-Type: text/plain; charset=us-ascii\r\nContent-Transfer-Encoding: "
                 "7bit\r\n\r\n";
            m += "Name: " + name + "\r\nMessage: " + Filler(rng, 3) + "\r\n--" + boundary + "\r\n";
            m += "Content-Type: text/csv;\r\n name=\"form.csv\"\r\nContent-Transfer-Encoding: "
                 "base64\r\n"
                 "Content-Disposition: attachment;\r\n filename=\"form.csv\"\r\n\r\n";
            m += Base64Filler(rng, 16) + "\r\n--" + boundary + "--\r\n";
        } else {
            m += "Content-Type: text/plain; charset=us-ascii\r\n\r\n" + Filler(rng, 30);
        }
        visit(separator, m);
    }
}

std::uint64_t WriteMailbox(std::ostream& out, std::uint64_t count, MailboxMix mix) {
    std::uint64_t bytes = 0;
    ForEachMessage(count, mix, [&](std::string_view separator, std::string_view message) {
        out.write(separator.data(), static_cast<std::streamsize>(separator.size()));
        out.write(message.data(), static_cast<std::streamsize>(message.size()));
        // A blank line before the next separator ends the message.
        out.write("\r\n", 2);
        bytes += separator.size() + message.size() + 2;
    });
    return bytes;
}

}  // namespace tallix::bench
