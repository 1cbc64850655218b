#pragma once
// The body clean-up written the slow way, loop for loop: find the first match, rebuild the
// text around it, search again. The tests and the fuzz target check that the one-pass
// clean-up gives the same bytes.

#include <string>
#include <string_view>

#include "model/html_text.h"
#include "settings/text_functions.h"

namespace tallix::testing {

inline std::string LiteralReplace(std::string body) {
    if (Trim(body).empty()) return body;
    for (std::size_t p; (p = InStr(1, body, "&quot", Compare::Text)) != 0;) {
        body = Left(body, p - 1) + "\"" + Mid(body, p + 5);
    }
    for (std::size_t p; (p = InStr(1, body, "&nbsp", Compare::Text)) != 0;) {
        body = Left(body, p - 1) + " " + Mid(body, p + 5);
    }
    return body;
}

inline std::string LiteralStrip(std::string body) {
    if (Trim(body).empty()) return body;
    std::size_t pos = 1;
    for (;;) {
        std::size_t lt = pos <= body.size() ? InStr(pos, body, "<") : 0;
        if (lt == 0 || lt == body.size()) break;
        std::size_t gt = InStr(lt, body, ">");
        if (gt == 0) break;
        std::string candidate = UCase(Mid(body, lt, gt - lt));
        while (Mid(candidate, 2, 1) == " ") candidate = Left(candidate, 1) + Mid(candidate, 3);
        if (Mid(candidate, 2, 1) == "/") candidate = Left(candidate, 1) + Mid(candidate, 3);
        bool recognised = false;
        for (std::string_view name : HtmlCodeTable()) {
            if (InStr(1, candidate, name, Compare::Text) == 2) recognised = true;
        }
        if (recognised) {
            body = Left(body, lt - 1) + Mid(body, gt + 1);
            pos = lt;
        } else {
            pos = gt;
        }
    }
    return LiteralReplace(body);
}

}  // namespace tallix::testing
