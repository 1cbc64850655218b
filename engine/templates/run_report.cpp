#include "engine/templates/run_report.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "model/file_bytes.h"

namespace tallix::engine {
namespace {

void AppendEscaped(std::string& out, std::string_view value) {
    for (char c : value) {
        switch (c) {
            case '\\':
                out += "\\\\";
                break;
            case '\t':
                out += "\\t";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            default:
                out += c;
        }
    }
}

std::string Unescaped(std::string_view value) {
    std::string out;
    out.reserve(value.size());
    for (std::size_t i = 0; i < value.size(); ++i) {
        if (value[i] != '\\' || i + 1 == value.size()) {
            out += value[i];
            continue;
        }
        const char next = value[++i];
        out += next == 't' ? '\t' : next == 'n' ? '\n' : next == 'r' ? '\r' : next;
    }
    return out;
}

std::vector<std::string_view> SplitTabs(std::string_view text) {
    std::vector<std::string_view> pieces;
    std::size_t start = 0;
    for (;;) {
        const std::size_t tab = text.find('\t', start);
        pieces.push_back(text.substr(start, tab - start));
        if (tab == std::string_view::npos) return pieces;
        start = tab + 1;
    }
}

std::int64_t Number(std::string_view text) {
    std::int64_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return 0;
        value = value * 10 + (c - '0');
    }
    return value;
}

std::string_view StateName(RunState state) {
    switch (state) {
        case RunState::Running:
            return "running";
        case RunState::Done:
            return "done";
        case RunState::Stopped:
            return "stopped";
        case RunState::Waiting:
            return "waiting";
        case RunState::Refused:
            return "refused";
    }
    return "running";
}

}  // namespace

std::string FormatRunReport(const RunReport& report) {
    std::string out = "state=";
    out += StateName(report.state);
    if (!report.reason.empty()) {
        out += "\nreason=";
        AppendEscaped(out, report.reason);
    }
    out += "\nmessage=" + std::to_string(report.message);
    out += "\ntotal=" + std::to_string(report.total);
    out += "\nsource=";
    AppendEscaped(out, report.source);
    out += '\n';
    for (const TemplateTally& tally : report.templates) {
        out += "template=" + std::to_string(tally.lines) + '\t' + std::to_string(tally.failures) +
               '\t';
        AppendEscaped(out, tally.name);
        out += '\t';
        AppendEscaped(out, tally.outputFile);
        out += '\t';
        AppendEscaped(out, tally.reason);
        out += '\n';
    }
    return out;
}

RunReport ParseRunReport(std::string_view text) {
    RunReport report;
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        const std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view{} : text.substr(end + 1);
        const std::size_t equals = line.find('=');
        if (equals == std::string_view::npos) continue;
        const std::string_view key = line.substr(0, equals);
        const std::string_view value = line.substr(equals + 1);
        if (key == "state") {
            report.state = value == "done"      ? RunState::Done
                           : value == "stopped" ? RunState::Stopped
                           : value == "waiting" ? RunState::Waiting
                           : value == "refused" ? RunState::Refused
                                                : RunState::Running;
        } else if (key == "reason") {
            report.reason = Unescaped(value);
        } else if (key == "message") {
            report.message = Number(value);
        } else if (key == "total") {
            report.total = Number(value);
        } else if (key == "source") {
            report.source = Unescaped(value);
        } else if (key == "template") {
            const std::vector<std::string_view> pieces = SplitTabs(value);
            if (pieces.size() < 5) continue;
            TemplateTally tally;
            tally.lines = Number(pieces[0]);
            tally.failures = Number(pieces[1]);
            tally.name = Unescaped(pieces[2]);
            tally.outputFile = Unescaped(pieces[3]);
            tally.reason = Unescaped(pieces[4]);
            report.templates.push_back(std::move(tally));
        }
    }
    return report;
}

int WriteRunReport(const std::string& path, const RunReport& report) {
    const std::string temporary = path + ".new";
    ::unlink(temporary.c_str());
    if (int error = WriteNewFile(temporary, {FormatRunReport(report)})) return error;
    if (std::rename(temporary.c_str(), path.c_str()) != 0) {
        const int error = errno;
        ::unlink(temporary.c_str());
        return error;
    }
    return 0;
}

std::optional<RunReport> ReadRunReport(const std::string& path) {
    std::string text;
    if (ReadRegularFile(path, text) != 0) return std::nullopt;
    return ParseRunReport(text);
}

}  // namespace tallix::engine
